#include "repair/IgnoreList.h"

#include <QStringList>

#include <algorithm>
#include <utility>

namespace repair {
namespace {

// A mask: its text literal but for * and ?. An entry without them is an extension: the name ends
// with it, after a dot unless the entry starts with one, or is the entry itself.
QRegularExpression maskPattern(const QString &entry)
{
    QString pattern;
    QString literal;
    for (const QChar c : entry) {
        if (c != u'*' && c != u'?') {
            literal += c;
            continue;
        }
        pattern += QRegularExpression::escape(std::exchange(literal, {})) + (c == u'*' ? QLatin1String(".*") : QLatin1String("."));
    }
    pattern += QRegularExpression::escape(literal);
    if (!entry.contains(u'*') && !entry.contains(u'?'))
        pattern = (entry.startsWith(u'.') ? QLatin1String(".*") : QLatin1String("(.*\\.)?")) + pattern;
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern),
                              QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
}

std::vector<QRegularExpression> masksOf(const QString &list)
{
    std::vector<QRegularExpression> masks;
    for (const QString &entry : list.split(u',')) {
        if (const QString trimmed = entry.trimmed(); !trimmed.isEmpty())
            masks.push_back(maskPattern(trimmed));
    }
    return masks;
}

IgnoreList &listInEffect()
{
    static IgnoreList list;
    return list;
}

} // namespace

IgnoreList::IgnoreList()
    : m_masks(masksOf(QStringLiteral(".sfv, .nzb, .nfo")))
{
}

IgnoreList IgnoreList::fromText(const QString &list)
{
    return IgnoreList(masksOf(list));
}

bool IgnoreList::matches(const QString &fileName) const
{
    return std::any_of(m_masks.begin(), m_masks.end(),
                       [&fileName](const QRegularExpression &mask) { return mask.match(fileName).hasMatch(); });
}

const IgnoreList &IgnoreList::inEffect()
{
    return listInEffect();
}

void IgnoreList::setInEffect(const IgnoreList &list)
{
    listInEffect() = list;
}

} // namespace repair
