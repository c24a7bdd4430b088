#include "Replies.h"

#include "API.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cmath>

namespace vantel {

namespace {

QJsonObject objectOf(const QByteArray& bytes) {
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        throw API::BadReply();
    return document.object();
}

QString requiredString(const QJsonObject& object, const char* key) {
    QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        throw API::BadReply();
    return value.toString();
}

// JSON numbers arrive as doubles; an integer key takes only whole values that a double holds
// exactly.
int64_t requiredInteger(const QJsonObject& object, const char* key) {
    QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        throw API::BadReply();
    double number = value.toDouble();
    if (std::trunc(number) != number || std::fabs(number) > 9007199254740992.0)
        throw API::BadReply();
    return static_cast<int64_t>(number);
}

AccountUser userOf(const QJsonObject& object) {
    AccountUser user{requiredString(object, "id"), requiredString(object, "name"), std::nullopt};
    QJsonValue avatar = object.value(QLatin1String("avatar"));
    if (avatar.isString())
        user.avatar = avatar.toString();
    else if (!avatar.isNull() && !avatar.isUndefined())
        throw API::BadReply();
    return user;
}

} // namespace

QByteArray AccountUser::toJson() const {
    QJsonObject object{{QStringLiteral("id"), id}, {QStringLiteral("name"), name}};
    if (avatar)
        object.insert(QStringLiteral("avatar"), *avatar);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

AccountUser AccountUser::fromJson(const QByteArray& bytes) {
    return userOf(objectOf(bytes));
}

TokenReply TokenReply::fromJson(const QByteArray& bytes) {
    QJsonObject object = objectOf(bytes);
    QJsonValue user = object.value(QLatin1String("user"));
    if (!user.isObject())
        throw API::BadReply();
    return {requiredString(object, "token"), userOf(user.toObject())};
}

Sharing::Created Sharing::Created::fromJson(const QByteArray& bytes) {
    QJsonObject object = objectOf(bytes);
    return {requiredString(object, "id"), requiredInteger(object, "partSize"),
            requiredString(object, "url")};
}

Sharing::Done Sharing::Done::fromJson(const QByteArray& bytes) {
    return {requiredString(objectOf(bytes), "url")};
}

} // namespace vantel
