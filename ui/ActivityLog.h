#pragma once

#include <QAbstractListModel>
#include <QStringList>
#include <QTimer>

// The activity log: one line of text per entry, shown by a list view.
// A check can append a line per missing article, hundreds of thousands in all,
// so appends are collected and reach the view in batches, at most ~30 times a second.
class ActivityLog : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit ActivityLog(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void clear();
    void append(const QString &line);
    void append(const QStringList &lines);
    // Clears the log and shows `lines`: the load summary block.
    void replaceWith(const QStringList &lines);

    // Every line, those still waiting for the view included.
    const QStringList &lines() const { return m_lines; }

    // The clipboard text: CR LF after every line; empty for an empty log.
    QString copyText() const;
    // Writes the log as UTF-8 with CR LF, atomically: on failure any existing file stays as it was.
    // Returns the error text, empty on success.
    QString saveTo(const QString &path) const;

public Q_SLOTS:
    // Hands the waiting lines to the view now.
    void flush();

private:
    QStringList m_lines;
    qsizetype m_shownCount = 0; // lines the view has been told about
    QTimer m_flushTimer;
};
