// The launcher's question when the host is started without a resource (from the desktop menu):
// the VISA resources the search found, or one typed by hand, for the logger to start with.
#pragma once

#include <QDialog>
#include <QStringList>

class QLineEdit;
class QListWidget;
class QPushButton;

class ResourceDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ResourceDialog(const QStringList &found, QWidget *parent = nullptr);

    // The chosen resource without surrounding blanks; never empty once accepted.
    QString resource() const;

    QListWidget *resourceList() const { return list; }
    QLineEdit *resourceEdit() const { return edit; }
    QPushButton *startButton() const { return start; }

    void accept() override;

private:
    QListWidget *list = nullptr;
    QLineEdit *edit = nullptr;
    QPushButton *start = nullptr;
};

// Every resource the VISA search reports ("?*"), without opening any of them: the measuring
// instrument may be of any model. Empty when the search fails or finds nothing.
QStringList findVisaResources();
