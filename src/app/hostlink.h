// The logger's side of the host line protocol: the window announcement on every show of the
// window, the echo of each line the host sends, and the end on "exit". Lines come from a
// reader thread of its own, so the GUI thread never blocks on standard input.
#pragma once

#include <QObject>
#include <QString>

class InputReaderThread;
class QWidget;

class HostLink : public QObject
{
    Q_OBJECT
public:
    // Announces window on each of its show events; reading starts with start().
    explicit HostLink(QWidget *window, QObject *parent = nullptr);
    // Stops the reader: it ends within its poll slice, or is terminated after 3000 ms.
    ~HostLink() override;

    void start();

public slots:
    void handleInput(const QString &input);
    void replyToParent(const QString &message);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void announce(QWidget *window);

    InputReaderThread *reader = nullptr;
};
