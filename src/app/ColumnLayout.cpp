#include "ColumnLayout.h"

#include "IniFile.h"
#include "Schema.h"

#include <array>

using namespace Qt::StringLiterals;

namespace {
const QString PositionSection = u"Position"_s;
const QString CheckedSection = u"Checked"_s;
const QString WidthSection = u"Width"_s;

QString positionKey(int position) {
    return u"Num"_s + QString::number(position);
}

QString fieldKey(int attribute) {
    return u"Field"_s + QString::number(attribute);
}

bool isChecked(const IniFile& ini, int attribute) {
    return ini.readInteger(CheckedSection, fieldKey(attribute), 0) != 0;
}
} // namespace

namespace ColumnLayout {

QList<Entry> defaultEntries() {
    QList<Entry> entries;
    entries.reserve(AttributeCount);
    for (int a = 0; a < AttributeCount; ++a)
        entries.append({a, false});
    return entries;
}

QList<Entry> readEntries(const IniFile& ini) {
    std::array<bool, AttributeCount> placed{};
    QList<Entry> entries;
    entries.reserve(AttributeCount);
    for (int p = 0; p < AttributeCount; ++p) {
        const int a = ini.readInteger(PositionSection, positionKey(p), p);
        if (!isAttributeIndex(a) || placed[size_t(a)])
            continue;
        placed[size_t(a)] = true;
        entries.append({a, isChecked(ini, a)});
    }
    for (int a = 0; a < AttributeCount; ++a) {
        if (!placed[size_t(a)])
            entries.append({a, isChecked(ini, a)});
    }
    return entries;
}

void writeEntries(IniFile& ini, const QList<Entry>& entries) {
    for (qsizetype p = 0; p < entries.size(); ++p) {
        ini.writeInteger(PositionSection, positionKey(int(p)), entries[p].attribute);
        ini.writeInteger(CheckedSection, fieldKey(entries[p].attribute), entries[p].checked ? 1 : 0);
    }
}

QList<Column> visibleColumns(const IniFile& ini) {
    QList<Column> columns;
    for (const Entry& e : readEntries(ini)) {
        if (e.checked)
            columns.append({e.attribute, ini.readInteger(WidthSection, fieldKey(e.attribute), DefaultWidth)});
    }
    return columns;
}

void writeWidths(IniFile& ini, const QList<Column>& columns) {
    for (const Column& c : columns)
        ini.writeInteger(WidthSection, fieldKey(c.attribute), c.width);
}

} // namespace ColumnLayout
