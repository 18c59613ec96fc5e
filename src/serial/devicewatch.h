#ifndef DEVICEWATCH_H
#define DEVICEWATCH_H

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// The USB identity the system reports for a port; empty where it reports none (a built-in port,
// a pseudo-terminal).
struct DeviceIdentity
{
    QString vendor;
    QString product;
    QString serialNumber;

    bool known() const
    {
        return !vendor.isEmpty() || !product.isEmpty() || !serialNumber.isEmpty();
    }
    bool operator==(const DeviceIdentity &other) const
    {
        return vendor == other.vendor && product == other.product
            && serialNumber == other.serialNumber;
    }
    bool operator!=(const DeviceIdentity &other) const { return !(*this == other); }
};

// Waits for a lost device to come back as the same device: under its path, and with its USB
// identity where the system reported one when it was opened.
class DeviceWatch : public QObject
{
    Q_OBJECT

public:
    // The identity of what is at a path now.
    using Probe = std::function<DeviceIdentity(const QString &path)>;

    explicit DeviceWatch(QObject *parent = nullptr);

    // What is at path now, by the probe: asked before a port opens, since the system's list of
    // ports takes milliseconds to read.
    DeviceIdentity identityAt(const QString &path) const { return identityOf(path); }
    // The port that opened, and what was found there: what a returning device must match.
    void remember(const QString &path, const DeviceIdentity &found);
    // The device went away: look for it from now on.
    void start();
    // No more waiting: the device is back, or the user gave up on it.
    void stop();
    bool waiting() const { return timer.isActive(); }
    QString path() const { return devicePath; }
    // Whether the remembered device is at its path now, its identity asked afresh.
    bool present();
    // Since the loss.
    qint64 gapMicros() const { return waiting() ? sinceLoss.nsecsElapsed() / 1000 : 0; }
    // How many times it looked since the loss.
    int looks() const { return lookCount; }

    // For the status bar.
    QString waitingText() const;
    static QString reconnectedText(qint64 gapMicros);

    // Tests drive the identity check: a pseudo-terminal has no USB identity.
    void setProbe(const Probe &probe) { identityOf = probe; }
    // What the system reports for path (a link such as /dev/serial/by-id/... is followed).
    static DeviceIdentity systemIdentity(const QString &path);

    // About twice a second: a device back within a second is read again within a second.
    static constexpr int LookIntervalMs = 500;

signals:
    // The remembered device is back: try to open it. Told at each look until stop().
    void returned();

private:
    void look();
    // As present(), but a different device found there is not asked again while it stays.
    bool presentAsBefore();
    // Whether something is at the path, at the cost of a stat() where there is one.
    bool exists() const;

    QTimer timer;
    QString devicePath;
    DeviceIdentity identity;
    Probe identityOf = &DeviceWatch::systemIdentity;
    QDateTime lostAt;
    QElapsedTimer sinceLoss;
    int lookCount = 0;
    // A different device found at the path: its identity is not asked again until the path has
    // been empty once, so that looking costs a stat() while the wrong device stays.
    bool rejected = false;
};

#endif // DEVICEWATCH_H
