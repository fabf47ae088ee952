#include "repair/Par2Sets.h"

#include <QRegularExpression>

#include <map>

namespace repair {

QString IndexSetName(const QString &fileName)
{
    if (!fileName.endsWith(QLatin1String(".par2"), Qt::CaseInsensitive) || ParseVolumeName(fileName))
        return {};
    return fileName.chopped(5);
}

std::optional<VolumeName> ParseVolumeName(const QString &fileName)
{
    static const QRegularExpression volume(QStringLiteral("^(.*)\\.vol(\\d{1,9})([+-])(\\d{1,9})\\.par2$"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = volume.match(fileName);
    if (!match.hasMatch())
        return std::nullopt;
    VolumeName name{match.captured(1), std::nullopt, match.captured(2).toInt(), match.captured(4).toInt()};
    if (match.captured(3) == QLatin1String("+"))
        name.blocks = name.end;
    return name;
}

Grouping GroupByName(const std::vector<QString> &fileNames)
{
    std::map<QString, Par2Set> byKey; // case-insensitive: the names' lower case
    std::vector<bool> isPar2(fileNames.size(), false);
    for (size_t i = 0; i < fileNames.size(); ++i) {
        const auto volume = ParseVolumeName(fileNames[i]);
        const QString name = volume ? volume->setName : IndexSetName(fileNames[i]);
        if (name.isEmpty())
            continue;
        Par2Set &set = byKey[name.toLower()];
        if (set.name.isEmpty() || !volume)
            set.name = name;
        (volume ? set.volumes.push_back(int(i)) : void(set.index = int(i)));
        isPar2[i] = true;
    }
    Grouping grouping;
    for (auto &[key, set] : byKey)
        grouping.sets.push_back(std::move(set));
    for (size_t i = 0; i < fileNames.size(); ++i) {
        if (isPar2[i])
            continue;
        // The longest set name wins: "a.part1" before "a" for "a.part1.rar".
        Par2Set *owner = nullptr;
        for (Par2Set &set : grouping.sets) {
            if (fileNames[i].startsWith(set.name + u'.', Qt::CaseInsensitive) && (!owner || set.name.size() > owner->name.size()))
                owner = &set;
        }
        (owner ? owner->dataFiles : grouping.uncovered).push_back(int(i));
    }
    if (grouping.sets.size() == 1 && grouping.sets.front().dataFiles.empty())
        grouping.sets.front().dataFiles = std::exchange(grouping.uncovered, {});
    return grouping;
}

} // namespace repair
