#include "resourcedialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "resource_list.h"
#include "visa.h"

ResourceDialog::ResourceDialog(const QStringList &found, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Start the data logger"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("The measuring instrument's VISA resource:"), this));

    list = new QListWidget(this);
    list->addItems(found);
    list->setMinimumWidth(420);
    layout->addWidget(list, 1);
    if (found.isEmpty()) {
        list->hide();
        layout->addWidget(new QLabel(tr("The search found no resource; type one below."), this));
    }

    edit = new QLineEdit(this);
    edit->setPlaceholderText(QStringLiteral("TCPIP0::192.168.1.20::5025::SOCKET"));
    layout->addWidget(edit);
    // Raw sockets cannot be discovered; saying where to list them saves a trip to the manual.
    QString listPath = QString::fromStdString(visa::resourceListPath());
    if (listPath.startsWith(QDir::homePath() + QLatin1Char('/')))
        listPath.replace(0, QDir::homePath().size(), QStringLiteral("~"));
    auto *hint = new QLabel(
        tr("TCP/IP sockets are found when they are listed, one per line, in %1.").arg(listPath),
        this);
    hint->setWordWrap(true);
    hint->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(hint);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    start = buttons->addButton(tr("Start"), QDialogButtonBox::AcceptRole);
    start->setDefault(true);
    start->setEnabled(false);
    layout->addWidget(buttons);

    connect(list, &QListWidget::currentTextChanged, edit, &QLineEdit::setText);
    // A click on the current item after typing takes the item again.
    connect(list, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *item) { edit->setText(item->text()); });
    connect(list, &QListWidget::itemActivated, this, &ResourceDialog::accept);
    connect(edit, &QLineEdit::textChanged, this,
            [this](const QString &text) { start->setEnabled(!text.trimmed().isEmpty()); });
    connect(buttons, &QDialogButtonBox::accepted, this, &ResourceDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ResourceDialog::reject);

    // Nothing is chosen for the user: the search opens no resource, so none is known to be a
    // measuring instrument that answers.
    edit->setFocus();
}

QString ResourceDialog::resource() const
{
    return edit->text().trimmed();
}

// Enter in the line edit comes here too: a blank resource would only start a logger that fails.
void ResourceDialog::accept()
{
    if (resource().isEmpty())
        return;
    QDialog::accept();
}

QStringList findVisaResources()
{
    QStringList found;
    ViSession resourceManager = 0;
    if (viOpenDefaultRM(&resourceManager) < VI_SUCCESS)
        return found;
    ViFindList findList = 0;
    ViUInt32 count = 0;
    char desc[VI_FIND_BUFLEN] = {};
    if (viFindRsrc(resourceManager, "?*", &findList, &count, desc) >= VI_SUCCESS) {
        for (ViUInt32 i = 0; i < count; ++i) {
            if (i > 0 && viFindNext(findList, desc) < VI_SUCCESS)
                break;
            desc[VI_FIND_BUFLEN - 1] = '\0';
            found.append(QString::fromUtf8(desc));
        }
        viClose(findList);
    }
    viClose(resourceManager);
    return found;
}
