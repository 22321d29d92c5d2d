// The desktop's services over a real D-Bus: a bus of the test's own (dbus-daemon), with stand-ins for the
// notification service and the disk service registered on it. Skipped where dbus-daemon is not installed.
#include "desktop/DesktopBus.h"

#include <gtest/gtest.h>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <thread>

namespace {

// The desktop's services, one stand-in for every object below /org/freedesktop: it answers as the
// notification service and the disk service of a card reader (a file system on a drive that can be
// switched off) would, and records each call: interface, method, object, its plain arguments, and "quietly"
// when the service is told not to ask the user. (The notification's answer, its number, is not waited for.)
class Services : public QDBusVirtualObject {
  public:
    // A line a call.
    std::string asked;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
        const QString method = call.member(), disks = QStringLiteral("/org/freedesktop/UDisks2/");
        const QVariantMap options = qdbus_cast<QVariantMap>(call.arguments().value(0));
        QString said = call.interface().section('.', 2) + "." + method + " " + call.path().section('/', -1);
        for (const QVariant& argument : call.arguments()) {
            said += argument.typeId() == QMetaType::QString ? " " + argument.toString() : "";
        }
        asked +=
            (said + (options.value("auth.no_user_interaction").toBool() ? " quietly\n" : "\n")).toStdString();
        QVariant answer;
        // The block device of "/dev/sdz1", its drive, the drive's properties.
        if (method == "ResolveDevice") {
            answer = QVariant::fromValue(
                QList{QDBusObjectPath(disks + "block_devices" + options.value("path").toString().mid(4))});
        } else if (method == "Get") {
            answer = QVariant::fromValue(
                QDBusVariant(QVariant::fromValue(QDBusObjectPath(disks + "drives/reader"))));
        } else if (method == "GetAll") {
            answer = QVariantMap{{"Removable", true}, {"CanPowerOff", true}};
        }
        return bus.send(answer.isValid() ? call.createReply(answer) : call.createReply());
    }
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

    // No notification service on the bus yet: the notification is lost, unseen.
    std::string why;
    const auto disks = desktop::MakeDiskService(false, address, [](uint64_t) { return "/dev/sdz1"; });
    const auto notifier = desktop::MakeNotifier(address);
    notifier->Notify("lost", "nobody listens");

    Services standIn;
    ASSERT_TRUE(services.registerVirtualObject("/org/freedesktop", &standIn, QDBusConnection::SubPath) &&
                services.registerService("org.freedesktop.Notifications") &&
                services.registerService("org.freedesktop.UDisks2"));
    notifier->Notify("Tovaro: transfer finished", "Moved 3 of 3 files.");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !standIn.asked.empty(); }));
    EXPECT_EQ(
        std::exchange(standIn.asked, ""),
        "Notifications.Notify Notifications Tovaro tovaro Tovaro: transfer finished Moved 3 of 3 files.\n");

    // The service answers on its own thread's event loop, so the client asks from another thread.
    std::optional<transfer::DiskService::Disk> disk;
    std::thread ask([&] {
        disk = disks->Find(0, why);
        if (disk) {
            disks->Unmount(*disk);
            disks->PowerOff(*disk);
        }
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return standIn.asked.find("PowerOff") != std::string::npos; }));
    ask.join();
    ASSERT_TRUE(disk) << why;
    EXPECT_TRUE(disk->removable && disk->canPowerOff);
    EXPECT_EQ(standIn.asked,
              "UDisks2.Manager.ResolveDevice Manager\n"
              "DBus.Properties.Get sdz1 org.freedesktop.UDisks2.Block Drive\n"
              "DBus.Properties.GetAll reader org.freedesktop.UDisks2.Drive\n"
              "UDisks2.Filesystem.Unmount sdz1 quietly\n"
              "UDisks2.Drive.PowerOff reader quietly\n");
    daemon.kill();
    daemon.waitForFinished();
}

}  // namespace
