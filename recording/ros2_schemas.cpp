#include "recording/ros2_schemas.h"

#include <QFile>
#include <QList>

#include <functional>
#include <set>

namespace tx710::ros2 {

namespace {

const std::set<QByteArray> kPrimitives{"bool",  "byte",   "char",  "float32", "float64", "int8",   "uint8",
                                       "int16", "uint16", "int32", "uint32",  "int64",   "uint64", "string"};

// "pkg/Type" or "pkg/msg/Type" -> the resource of its .msg file.
QByteArray definition(const QByteArray& type)
{
    QList<QByteArray> parts = type.split('/');
    if (parts.size() == 2)
        parts.insert(1, "msg");
    QFile file(QStringLiteral(":/schemas/ros2/%1.msg").arg(QString::fromLatin1(parts.join('/'))));
    return parts.size() == 3 && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool typeChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '/';
}

// The message types a definition's fields use, "pkg/Type", sorted.
std::set<QByteArray> dependencies(const QByteArray& text, const QByteArray& package)
{
    std::set<QByteArray> types;
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        int end = 0;
        while (end < line.size() && typeChar(line[end]))
            ++end;
        if (end == 0 || end == line.size())
            continue;
        const QByteArray type = line.left(end);
        int after = end;
        if (line[after] == '[')
            after = line.indexOf(']', after) + 1;
        if (after <= 0 || after >= line.size() || (line[after] != ' ' && line[after] != '\t')
            || kPrimitives.count(type))
            continue;
        types.insert(type.contains('/') ? type : package + '/' + type);
    }
    return types;
}

} // namespace

QByteArray schemaText(const QByteArray& type)
{
    const QByteArray root = definition(type);
    if (root.isEmpty())
        return QByteArray();
    std::set<QByteArray> seen;
    std::function<QByteArray(const QByteArray&, const QByteArray&)> withDependencies = [&](const QByteArray& name,
                                                                                           const QByteArray& text) {
        QByteArray full = text;
        for (const QByteArray& dependency : dependencies(text, name.left(name.indexOf('/')))) {
            if (!seen.insert(dependency).second)
                continue;
            full += '\n' + QByteArray(80, '=') + "\nMSG: " + dependency + '\n'
                + withDependencies(dependency, definition(dependency));
        }
        return full;
    };
    return withDependencies(type, root);
}

} // namespace tx710::ros2
