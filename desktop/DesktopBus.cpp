#include "desktop/DesktopBus.h"

#include <sys/sysmacros.h>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <atomic>
#include <fstream>

namespace desktop {
namespace {

const QString kDisks = QStringLiteral("org.freedesktop.UDisks2");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr int kUnmountTimeoutMs = 120000;  // unmounting writes out what the card's cache still holds

// QtDBus wants an application object for its connections; tovaro-cli has none of its own.
void EnsureApplication() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "tovaro-cli";
        static char* argv[] = {name, nullptr};
        static QCoreApplication application(argc, argv);
    }
}

QDBusConnection Bus(QDBusConnection::BusType type, const std::string& address) {
    EnsureApplication();
    if (address.empty()) {
        return type == QDBusConnection::SystemBus ? QDBusConnection::systemBus()
                                                  : QDBusConnection::sessionBus();
    }
    // A connection of its own for each service object: named once, kept by QtDBus until the program ends.
    static std::atomic<int> count{0};
    return QDBusConnection::connectToBus(QString::fromStdString(address),
                                         QStringLiteral("tovaro-%1").arg(++count));
}

// The reply's error as words for the report.
std::string Why(const QDBusMessage& reply) {
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoServer") ||
        reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.Disconnected")) {
        return "the desktop's disk service is not running";
    }
    std::string message = reply.errorMessage().toStdString();
    return message.empty() ? reply.errorName().toStdString() : message;
}

class UDisksService final : public transfer::DiskService {
  public:
    UDisksService(bool interactive, QDBusConnection bus, std::function<std::string(uint64_t)> deviceNode)
        : m_interactive(interactive), m_bus(std::move(bus)), m_deviceNode(std::move(deviceNode)) {}

    std::optional<Disk> Find(uint64_t device, std::string& why) override {
        const std::string node = m_deviceNode(device);
        if (node.empty()) {
            why = "the camera folder is not on a removable drive";
            return std::nullopt;
        }
        QDBusMessage reply =
            Call(QStringLiteral("/org/freedesktop/UDisks2/Manager"), kDisks + QStringLiteral(".Manager"),
                 QStringLiteral("ResolveDevice"),
                 {QVariantMap{{QStringLiteral("path"), QString::fromStdString(node)}}, QVariantMap()});
        const auto blocks = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                                ? qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(0))
                                : QList<QDBusObjectPath>();
        if (blocks.isEmpty()) {
            why = reply.type() == QDBusMessage::ErrorMessage
                      ? Why(reply)
                      : "the camera folder is not on a removable drive";
            return std::nullopt;
        }
        Disk disk;
        disk.fileSystem = blocks.at(0).path().toStdString();
        reply = Call(blocks.at(0).path(), kProperties, QStringLiteral("Get"),
                     {kDisks + QStringLiteral(".Block"), QStringLiteral("Drive")});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            why = Why(reply);
            return std::nullopt;
        }
        disk.drive = qdbus_cast<QDBusVariant>(reply.arguments().at(0))
                         .variant()
                         .value<QDBusObjectPath>()
                         .path()
                         .toStdString();
        if (disk.drive.empty() || disk.drive == "/") {
            return disk;  // not on a drive of its own (a loop device): not removable
        }
        reply = Call(QString::fromStdString(disk.drive), kProperties, QStringLiteral("GetAll"),
                     {kDisks + QStringLiteral(".Drive")});
        const QVariantMap drive = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                                      ? qdbus_cast<QVariantMap>(reply.arguments().at(0))
                                      : QVariantMap();
        disk.removable = drive.value(QStringLiteral("Removable")).toBool() ||
                         drive.value(QStringLiteral("MediaRemovable")).toBool() ||
                         drive.value(QStringLiteral("Ejectable")).toBool();
        disk.canPowerOff = drive.value(QStringLiteral("CanPowerOff")).toBool();
        return disk;
    }

    transfer::StepResult Unmount(const Disk& disk) override {
        return Result(Call(QString::fromStdString(disk.fileSystem), kDisks + QStringLiteral(".Filesystem"),
                           QStringLiteral("Unmount"), {Options()}, kUnmountTimeoutMs));
    }

    transfer::StepResult PowerOff(const Disk& disk) override {
        return Result(Call(QString::fromStdString(disk.drive), kDisks + QStringLiteral(".Drive"),
                           QStringLiteral("PowerOff"), {Options()}, kUnmountTimeoutMs));
    }

  private:
    QDBusMessage Call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments, int timeoutMs = -1) {
        QDBusMessage call = QDBusMessage::createMethodCall(kDisks, path, interface, method);
        call.setArguments(arguments);
        call.setInteractiveAuthorizationAllowed(m_interactive);
        return m_bus.call(call, QDBus::Block, timeoutMs);
    }

    QVariantMap Options() const { return {{QStringLiteral("auth.no_user_interaction"), !m_interactive}}; }

    static transfer::StepResult Result(const QDBusMessage& reply) {
        return reply.type() == QDBusMessage::ReplyMessage ? transfer::StepResult::Ok()
                                                          : transfer::StepResult::Failed(Why(reply));
    }

    bool m_interactive;
    QDBusConnection m_bus;
    std::function<std::string(uint64_t)> m_deviceNode;
};

class DesktopNotifier final : public Notifier {
  public:
    explicit DesktopNotifier(QDBusConnection bus) : m_bus(std::move(bus)) {}

    void Notify(const std::string& summary, const std::string& body) override {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        call.setArguments({QStringLiteral("Tovaro"), 0u, QStringLiteral("tovaro"),
                           QString::fromStdString(summary), QString::fromStdString(body), QStringList(),
                           QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("tovaro")}}, -1});
        // Not waited for: without a notification service the call simply fails, unseen.
        call.setAutoStartService(false);
        m_bus.asyncCall(call);
    }

  private:
    QDBusConnection m_bus;
};

}  // namespace

std::string DeviceNodeOf(uint64_t device) {
    const dev_t number = static_cast<dev_t>(device);
    std::ifstream uevent("/sys/dev/block/" + std::to_string(major(number)) + ":" +
                         std::to_string(minor(number)) + "/uevent");
    for (std::string line; std::getline(uevent, line);) {
        if (line.starts_with("DEVNAME=")) {
            return "/dev/" + line.substr(8);
        }
    }
    return {};
}

std::unique_ptr<transfer::DiskService> MakeDiskService(bool interactive, const std::string& busAddress,
                                                       std::function<std::string(uint64_t)> deviceNode) {
    return std::make_unique<UDisksService>(interactive, Bus(QDBusConnection::SystemBus, busAddress),
                                           std::move(deviceNode));
}

std::unique_ptr<Notifier> MakeNotifier(const std::string& busAddress) {
    return std::make_unique<DesktopNotifier>(Bus(QDBusConnection::SessionBus, busAddress));
}

}  // namespace desktop
