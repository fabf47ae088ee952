#pragma once

#include <QString>

#include <optional>
#include <vector>

// Which files of a post belong to which par2 set, from their names.
namespace repair {

struct VolumeName {
    QString setName;
    std::optional<int> blocks; // NAME.volA+C.par2 names its count; NAME.volA-E.par2 does not
    int first = 0, end = 0;    // A and E of a "-" name
};

// NAME.par2 gives NAME; empty for any other name.
QString IndexSetName(const QString &fileName);
// NAME.volA+C.par2 or NAME.volA-E.par2 (any case).
std::optional<VolumeName> ParseVolumeName(const QString &fileName);

struct Par2Set {
    QString name;
    int index = -1;            // the NAME.par2 file; -1 when the NZB lists none
    std::vector<int> volumes;  // the recovery volumes
    std::vector<int> dataFiles;
};

struct Grouping {
    std::vector<Par2Set> sets;
    std::vector<int> uncovered; // files of no set
};

// Groups files by name: a set covers its par2 files and each file whose name starts with
// "NAME."; a single set that no file matches covers every other file.
Grouping GroupByName(const std::vector<QString> &fileNames);

} // namespace repair
