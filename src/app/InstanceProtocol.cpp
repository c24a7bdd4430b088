#include "InstanceProtocol.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <unistd.h>

namespace vantel::instance {

namespace {
QJsonArray toArray(const QStringList& list) {
    return QJsonArray::fromStringList(list);
}

// Nothing unless every element is a string.
std::optional<QStringList> toList(const QJsonValue& value) {
    if (value.isUndefined())
        return QStringList();
    if (!value.isArray())
        return std::nullopt;
    QStringList list;
    for (const QJsonValue& item : value.toArray()) {
        if (!item.isString())
            return std::nullopt;
        list << item.toString();
    }
    return list;
}

std::optional<QJsonObject> objectOf(const QByteArray& line) {
    if (line.size() > kMaxLine)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(line.trimmed());
    return document.isObject() ? std::optional(document.object()) : std::nullopt;
}

QByteArray lineOf(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}
} // namespace

QByteArray Request::encode() const {
    return lineOf({{"command", command}, {"arguments", toArray(arguments)}});
}

std::optional<Request> Request::decode(const QByteArray& line) {
    const std::optional<QJsonObject> object = objectOf(line);
    if (!object || !object->value("command").isString())
        return std::nullopt;
    const std::optional<QStringList> arguments = toList(object->value("arguments"));
    if (!arguments)
        return std::nullopt;
    return Request{object->value("command").toString(), *arguments};
}

QByteArray Reply::encode() const {
    return lineOf({{"ok", ok}, {"out", toArray(out)}, {"err", toArray(err)}});
}

std::optional<Reply> Reply::decode(const QByteArray& line) {
    const std::optional<QJsonObject> object = objectOf(line);
    if (!object || !object->value("ok").isBool())
        return std::nullopt;
    const std::optional<QStringList> out = toList(object->value("out"));
    const std::optional<QStringList> err = toList(object->value("err"));
    if (!out || !err)
        return std::nullopt;
    return Reply{object->value("ok").toBool(), *out, *err};
}

QByteArray Progress::encode() const {
    return lineOf({{"progress", text}});
}

std::optional<Progress> Progress::decode(const QByteArray& line) {
    const std::optional<QJsonObject> object = objectOf(line);
    if (!object || !object->value("progress").isString())
        return std::nullopt;
    return Progress{object->value("progress").toString()};
}

QString runtimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString folder =
        !runtime.isEmpty() && QFileInfo(runtime).isDir()
            ? runtime + QStringLiteral("/vantel-record")
            : QDir::tempPath() + QStringLiteral("/vantel-record-") + QString::number(getuid());
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder;
}

QString socketPath() {
    return runtimeFolder() + QStringLiteral("/instance.sock");
}

QString lockPath() {
    return runtimeFolder() + QStringLiteral("/instance.lock");
}

} // namespace vantel::instance
