#include "ui/fill_lists.h"

#include "link/models.h"

namespace tarsel::ui {

QStringList baudRateNames()
{
    QStringList out;
    for (int baud : kBaudCandidates)
        out << QString::number(baud);
    return out;
}

QStringList commandSetNames()
{
    return {"LD220", "EPSON Esc/POS", "AEDEX", "UTC/S", "UTC/E", "ADM788", "DSP800", "CD5220",
            "EMAX", "LOGIC CONTROL", "ICD2002", "EZ-202", "PL-200", "KT900", "AUTO"};
}

QStringList codePageNames()
{
    return {"CP437", "CP737", "CP737_S", "CP737_S1", "CP850", "CP852", "CP857", "CP858", "CP860",
            "CP863", "CP864", "CP865", "CP866", "CP866_AT", "CP874", "CP936_GBK", "CP950_BIG5",
            "Katakana", "WCP1250", "WCP1251", "WCP1252", "WCP1253", "WCP1255", "WCP1256",
            "WCP1257", "WCP1258"};
}

QStringList catalogueNames()
{
    static const char* const large[] = {"CP437", "CP437_40x40", "CP737", "CP737_S", "CP737_S1",
        "CP850", "CP852", "CP857", "CP858", "CP860", "CP863", "CP864", "CP865", "CP866",
        "CP866_AT", "CP874", "CP936_GBK", "WCP1250", "WCP1251", "WCP1252", "WCP1253", "WCP1255",
        "WCP1256", "WCP1257", "WCP1258", "Katakana"};
    static const char* const national[] = {"USA", "FRANCE", "GERMANY", "UK", "DENMARK_I",
        "SWEDEN", "ITALY", "SPAIN", "JAPAN", "NORWAY", "DENMARK_II", "SLAVONIC", "RUSSIA"};
    static const char* const rest[] = {"Logo_Start", "logo_Head", "Pic_Head", "Picture_1",
        "Picture_2", "Picture_3", "Picture_4", "Picture_5", "Picture_6", "Picture_7", "Picture_8",
        "Picture_9", "Picture_10", "Pic_Guest", "system", "big52gbk", "firmware"};
    QStringList out;
    for (const char* n : large)
        out << QString::fromLatin1(n);
    for (const char* n : large) {
        const QString s = QString::fromLatin1(n);
        if (s != QLatin1String("CP437_40x40") && s != QLatin1String("CP936_GBK"))
            out << QStringLiteral("mini_") + s;
    }
    for (const char* n : national)
        out << QString::fromLatin1(n);
    for (const char* n : national)
        out << QStringLiteral("mini_") + QString::fromLatin1(n);
    for (const char* n : rest)
        out << QString::fromLatin1(n);
    for (QString& s : out)
        s = s.trimmed();
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
    static const char* const rows[][2] = {
        {"USA", "美国"}, {"France", "法国"}, {"Germany", "德国"}, {"U.K.", "英国"},
        {"Denmark I", "丹麦I"}, {"Sweden", "瑞典"}, {"Italy", "意大利"}, {"Spain", "西班牙语系"},
        {"Japan", "日本"}, {"Norway", "挪威"}, {"Denmark II", "丹麦II"}, {"Russia", "俄罗斯"},
        {"Greek", "希腊语系"}, {"Czech", "捷克语系"}, {"Lithuania", "立陶宛"},
        {"Portugal", "葡萄牙语系"}, {"Turkey", "土耳其"}, {"Baltic States", "波罗的海国家"},
        {"Thailand", "泰国"}, {"Other", "其他"},
    };
    QStringList out;
    for (const auto& row : rows)
        out << QString::fromUtf8(row[chinese ? 1 : 0]);
    return out;
}

} // namespace tarsel::ui
