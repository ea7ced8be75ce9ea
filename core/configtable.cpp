#include "configtable.h"

#include "configcodec.h"
#include "inifile.h"

namespace vardune {

void ConfigTable::InitConfigTable(const std::string& defaultFolder)
{
    const EncodingProfile defaults;
    ConfigKeys = {"CONFIG", "VERSION", "SOURCE_", "TARGET_", "MCHANNE", "MQUALIT", "MKBPS__", "MDEVICE", "MJOBS__",
                  "WINLEFT", "WINTOP_", "WINWIDT", "WINHEIG", "WINMAXI", "COLUMNS", "TREEWID", "TREEHEI",
                  "FILETYP", "OUTLAYO", "OUTPATT", "EVENLOU"};
    ConfigValues = {"",
                    kVersionConstant,
                    defaultFolder,
                    defaultFolder,
                    defaults.channel,
                    defaults.quality,
                    defaults.kbps,
                    defaults.device,
                    "", "", "", "", "", "", "", "", "", "", "", "", ""};
}

Settings ReadConfig(const std::string& path, const std::string& defaultFolder, std::string* refused)
{
    ConfigTable table;
    table.InitConfigTable(defaultFolder);
    IniFile file(path);
    const KeptFile::Reading reading = file.Load();
    if (refused)
        *refused = reading.state == KeptFile::State::Refused ? reading.why : std::string();
    const std::string section = EncodeConfigText(table.ConfigKeys[0]);
    for (std::size_t i = 1; i < ConfigTable::kEntries; ++i) {
        auto stored = file.Value(section, EncodeConfigText(table.ConfigKeys[i]));
        if (!stored)
            continue;
        std::string value = *stored;
        value = value.substr(0, value.find('\0'));
        if (value.empty())
            continue;
        table.ConfigValues[i] = ConfigBytesToUtf8(DecodeConfigText(value));
    }

    Settings settings;
    settings.versionText = table.ConfigValues[1];
    settings.sourceFolder = table.ConfigValues[2];
    settings.targetFolder = table.ConfigValues[3];
    settings.profile.channel = table.ConfigValues[4];
    settings.profile.quality = table.ConfigValues[5];
    settings.profile.kbps = table.ConfigValues[6];
    settings.profile.device = table.ConfigValues[7];
    settings.jobs = table.ConfigValues[8];
    settings.window = WindowPlacement::FromTexts({table.ConfigValues[9], table.ConfigValues[10], table.ConfigValues[11],
                                                  table.ConfigValues[12], table.ConfigValues[13], table.ConfigValues[14],
                                                  table.ConfigValues[15], table.ConfigValues[16]});
    settings.fileType = table.ConfigValues[17];
    settings.outputLayout = table.ConfigValues[18];
    settings.namePattern = table.ConfigValues[19];
    settings.evenLoudness = table.ConfigValues[20];
    return settings;
}

bool WriteConfig(const std::string& path, const Settings& settings)
{
    ConfigTable table;
    table.InitConfigTable(std::string());
    table.ConfigValues[1] = settings.versionText;
    table.ConfigValues[2] = settings.sourceFolder;
    table.ConfigValues[3] = settings.targetFolder;
    table.ConfigValues[4] = settings.profile.channel;
    table.ConfigValues[5] = settings.profile.quality;
    table.ConfigValues[6] = settings.profile.kbps;
    table.ConfigValues[7] = settings.profile.device;
    table.ConfigValues[8] = settings.jobs;
    const WindowPlacement::Texts window = settings.window.ToTexts();
    for (std::size_t i = 0; i < window.size(); ++i)
        table.ConfigValues[9 + i] = window[i];
    table.ConfigValues[17] = settings.fileType;
    table.ConfigValues[18] = settings.outputLayout;
    table.ConfigValues[19] = settings.namePattern;
    table.ConfigValues[20] = settings.evenLoudness;

    IniFile file(path);
    file.Load();
    const std::string section = EncodeConfigText(table.ConfigKeys[0]);
    for (std::size_t i = 1; i < ConfigTable::kEntries; ++i)
        if (i < ConfigTable::kRequiredEntries || !table.ConfigValues[i].empty())
            file.SetValue(section, EncodeConfigText(table.ConfigKeys[i]), EncodeConfigText(table.ConfigValues[i]));
    return file.Save();
}

} // namespace vardune
