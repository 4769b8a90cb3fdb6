#include "hostwindow.h"

#include "gonewindows.h"
#include "inputfocus.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

#include <cstdio>

namespace {

constexpr int FrameMargin = 8;
constexpr int LogLines = 2000;

} // namespace

HostWindow::HostWindow(QWidget *parent)
    : QWidget(parent)
{
    loggerProcess = new LoggerProcess(this);
    buildUi();
    connect(loggerProcess, &LoggerProcess::lineReceived, this,
            [this](const QString &line) { note(QStringLiteral("child"), line); });
    connect(loggerProcess, &LoggerProcess::lineSent, this,
            [this](const QString &line) { note(QStringLiteral("sent"), line); });
    connect(loggerProcess, &LoggerProcess::errorLineReceived, this, [](const QString &line) {
        // The logger's message log stays on the terminal, out of the conversation.
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        std::fflush(stderr);
    });
    connect(loggerProcess, &LoggerProcess::problem, this, [this](const QString &text) {
        note(QStringLiteral("problem"), text);
        statusLabel->setText(text);
    });
    connect(loggerProcess, &LoggerProcess::windowAnnounced, this, &HostWindow::embed);
    connect(loggerProcess, &LoggerProcess::ended, this, &HostWindow::handleEnded);
}

void HostWindow::buildUi()
{
    setWindowTitle(tr("Data logger host"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 6);
    layout->setSpacing(6);

    embedFrame = new QWidget(this);
    embedFrame->setAutoFillBackground(true);
    embedLayout = new QVBoxLayout(embedFrame);
    embedLayout->setContentsMargins(FrameMargin, FrameMargin, FrameMargin, FrameMargin);
    placeholder = new QLabel(tr("Starting the logger..."), embedFrame);
    placeholder->setAlignment(Qt::AlignCenter);
    placeholder->setMinimumSize(loggerSize());
    placeholder->setWordWrap(true);
    embedLayout->addWidget(placeholder);
    layout->addWidget(embedFrame, 1);

    logView = new QPlainTextEdit(this);
    logView->setReadOnly(true);
    logView->setMaximumBlockCount(LogLines);
    logView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    logView->setFixedHeight(120);
    layout->addWidget(logView);

    auto *inputRow = new QHBoxLayout;
    inputRow->setContentsMargins(6, 0, 6, 0);
    inputEdit = new QLineEdit(this);
    inputEdit->setPlaceholderText(tr("A line for the logger; \"exit\" ends it"));
    sendButton = new QPushButton(tr("Send"), this);
    inputRow->addWidget(inputEdit, 1);
    inputRow->addWidget(sendButton);
    layout->addLayout(inputRow);
    // Clicks in the logger's window do not reach our widgets, so typing keeps going here.
    inputEdit->setFocus();
    connect(inputEdit, &QLineEdit::returnPressed, this, &HostWindow::sendTypedLine);
    connect(sendButton, &QPushButton::clicked, this, &HostWindow::sendTypedLine);

    statusLabel = new QLabel(this);
    statusLabel->setContentsMargins(6, 0, 6, 0);
    statusLabel->setWordWrap(true);
    layout->addWidget(statusLabel);

    setBackground(QColor(43, 43, 43));
}

void HostWindow::startLogger(const QString &resource)
{
    statusLabel->setText(tr("Starting %1 %2").arg(loggerProcess->program(), resource));
    note(QStringLiteral("host"),
         QStringLiteral("starting %1 %2").arg(loggerProcess->program(), resource));
    loggerProcess->start(resource);
}

int HostWindow::exitCode() const
{
    return loggerProcess->state() == LoggerProcess::State::Ended && loggerProcess->outcome().clean()
               ? 0
               : 1;
}

QString HostWindow::logText() const
{
    return logView->toPlainText();
}

QString HostWindow::statusText() const
{
    return statusLabel->text();
}

void HostWindow::sendTypedLine()
{
    const QString line = inputEdit->text();
    if (line.isEmpty())
        return;
    if (!loggerProcess->sendLine(line)) {
        statusLabel->setText(tr("Not sent: the logger is not running."));
        return;
    }
    inputEdit->clear();
}

void HostWindow::setBackground(const QColor &colour)
{
    background = colour;
    QPalette palette = embedFrame->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::WindowText, Qt::lightGray);
    embedFrame->setPalette(palette);
}

void HostWindow::embed(const WindowAnnouncement &announcement)
{
    setBackground(announcement.background);
    if (container && embeddedId == announcement.windowId)
        return; // shown again after a hide: the same window, already in place
    if (loggerProcess->state() == LoggerProcess::State::Ended)
        return;
    // Foreign windows can only be adopted by handle on X11.
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        const QString text = tr("Cannot embed the logger's window on the %1 platform; it runs "
                                "on its own.")
                                 .arg(QGuiApplication::platformName());
        note(QStringLiteral("problem"), text);
        statusLabel->setText(text);
        return;
    }
    QWindow *foreign = QWindow::fromWinId(WId(announcement.windowId));
    if (!foreign) {
        const QString text =
            tr("The announced window %1 cannot be adopted.").arg(announcement.windowId);
        note(QStringLiteral("problem"), text);
        statusLabel->setText(text);
        return;
    }
    if (container) {
        forgetGoneWindow(embeddedId);
        embedLayout->removeWidget(container);
        container->deleteLater();
    }
    container = QWidget::createWindowContainer(foreign, embedFrame);
    container->setMinimumSize(loggerSize());
    // In the Tab chain before the conversation; the logger's own Tab order takes over inside.
    container->setFocusPolicy(Qt::StrongFocus);
    container->installEventFilter(this);
    setTabOrder(container, logView);

    embedLayout->addWidget(container);
    placeholder->hide();
    container->show();
    embeddedId = announcement.windowId;
    statusLabel->setText(tr("Logger running, window %1 embedded.").arg(embeddedId));
    note(QStringLiteral("embedded"), QString::number(embeddedId));
    emit windowEmbedded(embeddedId);
}

bool HostWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The adopted window belongs to another process: the X server, not Qt's focus chain, has
    // to send its keys there. A child window takes the input focus directly, with or without
    // a window manager.
    if (watched == container && event->type() == QEvent::FocusIn && embeddedId != 0)
        giveInputFocus(embeddedId);
    return QWidget::eventFilter(watched, event);
}

void HostWindow::handleEnded(const LoggerOutcome &outcome)
{
    note(QStringLiteral("ended"), outcome.description);
    statusLabel->setText(outcome.description);
    inputEdit->setEnabled(false);
    sendButton->setEnabled(false);
    // The adopted window is gone with its process; only the report stays.
    if (container) {
        forgetGoneWindow(embeddedId);
        embedLayout->removeWidget(container);
        container->deleteLater();
        container = nullptr;
    }
    placeholder->setText(outcome.description);
    placeholder->show();
    emit loggerEnded(outcome);
    if (closeRequested) {
        closeAllowed = true;
        close();
    }
}

void HostWindow::requestClose()
{
    if (closeRequested && loggerProcess->isRunning()) {
        note(QStringLiteral("host"), QStringLiteral("ending the logger at once"));
        loggerProcess->kill();
        return;
    }
    close();
}

void HostWindow::closeEvent(QCloseEvent *event)
{
    const LoggerProcess::State state = loggerProcess->state();
    if (closeAllowed || state == LoggerProcess::State::NotStarted ||
        state == LoggerProcess::State::Ended) {
        event->accept();
        return;
    }
    // The logger's window lives inside ours: it has to end before our window goes.
    event->ignore();
    if (closeRequested)
        return;
    closeRequested = true;
    statusLabel->setText(tr("Waiting for the logger to end..."));
    loggerProcess->requestExit();
}

void HostWindow::note(const QString &kind, const QString &text)
{
    logView->appendPlainText(QStringLiteral("%1: %2").arg(kind, text));
    const QByteArray line = QStringLiteral("%1: %2\n").arg(kind, text).toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}
