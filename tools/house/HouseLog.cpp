#include "house/HouseLog.h"

#include <QJsonDocument>

#include <chrono>
#include <unistd.h>

namespace pealix::house {

using namespace Qt::StringLiterals;

HouseLog::HouseLog()
{
    // By descriptor: each line goes out whole and at once, between the lines of the command beside us.
    m_out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
}

bool HouseLog::openJson(const QString &path, QString *problem)
{
    m_json.setFileName(path);
    if (m_json.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return true;
    *problem = path + u": "_s + m_json.errorString();
    return false;
}

double HouseLog::monotonicSeconds()
{
    return secondsOf(std::chrono::steady_clock::now());
}

double HouseLog::secondsOf(std::chrono::steady_clock::time_point at)
{
    return std::chrono::duration<double>(at.time_since_epoch()).count();
}

void HouseLog::note(const QString &room, const QString &event, QJsonObject fields, const QString &human)
{
    if (overhear)
        overhear(room, event, fields);
    if (!human.isEmpty())
        m_out.write(((room.isEmpty() ? QString() : room + u": "_s) + human + u'\n').toUtf8());
    if (!m_json.isOpen())
        return;
    fields.insert(u"t"_s, monotonicSeconds());
    fields.insert(u"event"_s, event);
    if (!room.isEmpty())
        fields.insert(u"room"_s, room);
    // One write per line, so a reader never sees half of one.
    m_json.write(QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n');
}

} // namespace pealix::house
