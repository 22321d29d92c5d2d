// The desktop's services over a real D-Bus: a bus of the test's own (dbus-daemon), with stand-ins for the
// notification service and the disk service registered on it. Skipped where dbus-daemon is not installed.
#include "desktop/DesktopBus.h"

#include <gtest/gtest.h>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <thread>

namespace {

QStringList g_asked;  // what the disk service was asked
const QString kDisks = "/org/freedesktop/UDisks2/";

// The desktop's notification service, as much of it as Tovaro uses.
class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    QStringList shown;
  public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        shown << app + ": " + summary + ": " + body;
        return 1;
    }
};

// The disk service: a card reader's file system (its block device) on a drive that can be switched off.
class Manager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UDisks2.Manager")
  public slots:
    QList<QDBusObjectPath> ResolveDevice(const QVariantMap& spec, const QVariantMap&) {
        return {QDBusObjectPath(kDisks + "block_devices/" + spec.value("path").toString().mid(5))};
    }
};
class Block : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UDisks2.Block")
    Q_PROPERTY(QDBusObjectPath Drive READ Drive)
  public:
    explicit Block(QObject* parent) : QDBusAbstractAdaptor(parent) {}
    QDBusObjectPath Drive() const { return QDBusObjectPath(kDisks + "drives/reader"); }
};
class Filesystem : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UDisks2.Filesystem")
  public:
    explicit Filesystem(QObject* parent) : QDBusAbstractAdaptor(parent) {}
  public slots:
    void Unmount(const QVariantMap& options) {
        g_asked << "unmount " + QString(options.value("auth.no_user_interaction").toBool() ? "quietly" : "");
    }
};
class Drive : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UDisks2.Drive")
    Q_PROPERTY(bool Removable READ Yes)
    Q_PROPERTY(bool CanPowerOff READ Yes)
  public:
    bool Yes() const { return true; }
  public slots:
    void PowerOff(const QVariantMap&) { g_asked << "power off"; }
};

TEST(DesktopBus, NotifiesAndEjectsThroughTheServicesOnTheBus) {
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty()) {
        GTEST_SKIP() << "dbus-daemon is not installed";
    }
    QProcess daemon;
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(daemon.waitForReadyRead(10000));
    const std::string address = daemon.readLine().trimmed().toStdString();
    QDBusConnection services = QDBusConnection::connectToBus(QString::fromStdString(address), "services");
    ASSERT_TRUE(services.isConnected());

    // No disk service on the bus yet; none to notify either, and that is not said.
    std::string why;
    const auto disks = desktop::MakeDiskService(false, address, [](uint64_t) { return "/dev/sdz1"; });
    EXPECT_FALSE(disks->Find(0, why));
    EXPECT_EQ(why, "the desktop's disk service is not running");
    const auto notifier = desktop::MakeNotifier(address);
    notifier->Notify("lost", "nobody listens");

    Notifications notifications;
    Manager manager;
    QObject blockDevice;
    Drive drive;
    new Block(&blockDevice);
    new Filesystem(&blockDevice);
    const auto all = QDBusConnection::ExportAllContents | QDBusConnection::ExportAdaptors;
    ASSERT_TRUE(services.registerObject("/org/freedesktop/Notifications", &notifications, all) &&
                services.registerService("org.freedesktop.Notifications") &&
                services.registerObject(kDisks + "Manager", &manager, all) &&
                services.registerObject(kDisks + "block_devices/sdz1", &blockDevice, all) &&
                services.registerObject(kDisks + "drives/reader", &drive, all) &&
                services.registerService("org.freedesktop.UDisks2"));
    notifier->Notify("Tovaro: transfer finished", "Moved 3 of 3 files.");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !notifications.shown.isEmpty(); }));
    EXPECT_EQ(notifications.shown, QStringList{"Tovaro: Tovaro: transfer finished: Moved 3 of 3 files."});

    // The service answers on its own thread's event loop, so the client asks from another thread.
    std::optional<transfer::DiskService::Disk> disk;
    std::thread ask([&] {
        disk = disks->Find(0, why);
        if (disk) {
            disks->Unmount(*disk);
            disks->PowerOff(*disk);
        }
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return g_asked.size() == 2; }));
    ask.join();
    ASSERT_TRUE(disk) << why;
    EXPECT_TRUE(disk->removable && disk->canPowerOff);
    EXPECT_EQ(g_asked, (QStringList{"unmount quietly", "power off"}));
    daemon.kill();
    daemon.waitForFinished();
}

}  // namespace

#include "DesktopBusTest.moc"
