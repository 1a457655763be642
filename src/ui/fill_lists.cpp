#include "ui/fill_lists.h"

#include "link/models.h"
#include "settings/tables.h"
#include "transfer/catalogue.h"

namespace tarsel::ui {

QStringList baudRateNames()
{
    QStringList out;
    for (const TBaudRates& row : ConnectBaudRateTable)
        out << QString::fromLatin1(row.BaudRateName);
    return out;
}

QStringList commandSetNames()
{
    QStringList out;
    for (const TCommandModes& row : CommandModeTable)
        out << QString::fromLatin1(row.CommandName);
    return out;
}

QStringList codePageNames()
{
    QStringList out;
    for (const TCodePages& row : CodePageTable)
        out << QString::fromLatin1(row.DisplayName);
    return out;
}

QStringList catalogueNames()
{
    QStringList out;
    for (const DownloadItem& item : DownloadItems)
        out << QString::fromLatin1(item.Name).trimmed();
    return out;
}

QStringList modelNames()
{
    QStringList out;
    for (const std::string& name : ModelList)
        out << QString::fromStdString(name);
    return out;
}

QStringList interCharNames(bool chinese)
{
    QStringList out;
    for (const TInterChars& row : InterCharTable)
        out << QString::fromUtf8(chinese ? row.DisplayNameZh : row.DisplayNameEn);
    return out;
}

} // namespace tarsel::ui
