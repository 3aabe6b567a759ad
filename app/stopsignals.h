#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT and SIGTERM told as a signal on the event loop: the handler only
// writes the signal's number to a pipe, which a notifier reads.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
