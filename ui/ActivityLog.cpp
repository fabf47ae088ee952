#include "ui/ActivityLog.h"

#include <QSaveFile>

namespace {
constexpr int kFlushIntervalMs = 33;
}

ActivityLog::ActivityLog(QObject *parent)
    : QAbstractListModel(parent)
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(kFlushIntervalMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &ActivityLog::flush);
}

int ActivityLog::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_shownCount);
}

QVariant ActivityLog::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    return m_lines.at(index.row());
}

void ActivityLog::clear()
{
    replaceWith({});
}

void ActivityLog::append(const QString &line)
{
    m_lines.append(line);
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void ActivityLog::append(const QStringList &lines)
{
    m_lines.append(lines);
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void ActivityLog::replaceWith(const QStringList &lines)
{
    m_flushTimer.stop();
    beginResetModel();
    m_lines = lines;
    m_shownCount = m_lines.size();
    endResetModel();
}

void ActivityLog::flush()
{
    m_flushTimer.stop();
    if (m_shownCount == m_lines.size())
        return;
    beginInsertRows({}, int(m_shownCount), int(m_lines.size() - 1));
    m_shownCount = m_lines.size();
    endInsertRows();
}

QString ActivityLog::copyText() const
{
    QString text;
    for (const QString &line : m_lines)
        text += line + QLatin1String("\r\n");
    return text;
}

QString ActivityLog::saveTo(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(copyText().toUtf8());
    if (!file.commit())
        return file.errorString();
    return {};
}
