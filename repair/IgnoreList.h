#pragma once

#include <QRegularExpression>
#include <QString>

#include <utility>
#include <vector>

namespace repair {

// Names of files a download does not need: when such a file outside every par2 set lost
// articles, the data is still complete. NZBGet's ParIgnoreExt, whose default it takes.
class IgnoreList
{
public:
    // *.nfo, *.sfv and *.nzb.
    IgnoreList();
    // Comma-separated entries, blanks around them ignored: an extension with or without its
    // dot (a name equal to an entry without one matches too), or a mask with * and ?. Any case.
    static IgnoreList fromText(const QString &list);

    bool matches(const QString &fileName) const;

    // The list a verdict takes when given none: the default, unless the program set another
    // before its first check (orvalis-check's --ignore-ext, NZBGet's own option).
    static const IgnoreList &inEffect();
    static void setInEffect(const IgnoreList &list);

private:
    explicit IgnoreList(std::vector<QRegularExpression> masks)
        : m_masks(std::move(masks))
    {
    }

    std::vector<QRegularExpression> m_masks;
};

} // namespace repair
