#include "platform/WineLaunch.h"

#include <locale.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/AsciiText.h"
#include "platform/RunProgram.h"

namespace {

struct UsualLocale {
    const char* CodePage;
    const char* Locale;
};

// Locales whose Windows code page (Wine derives it from the language and territory) is the
// code page, with that code page as their character set.
constexpr UsualLocale kUsualLocales[] = {
    {"CP949", "ko_KR.CP949"},   {"CP1252", "en_US.CP1252"}, {"CP932", "ja_JP.SHIFT_JIS"},
    {"CP936", "zh_CN.GBK"},     {"CP950", "zh_TW.BIG5"},    {"CP1251", "ru_RU.CP1251"},
    {"CP1250", "pl_PL.CP1250"}, {"CP1253", "el_GR.CP1253"}, {"CP1254", "tr_TR.CP1254"},
    {"CP1255", "he_IL.CP1255"}, {"CP1256", "ar_SA.CP1256"}, {"CP1257", "lt_LT.CP1257"},
    {"CP874", "th_TH.CP874"},
};

bool LocaleAvailable(const std::string& name) {
    const locale_t locale = ::newlocale(LC_ALL_MASK, name.c_str(), nullptr);
    if (!locale) return false;
    ::freelocale(locale);
    return true;
}

std::filesystem::path LocaleCache() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && *cache == '/') return std::filesystem::path(cache) / "torvane" / "locale";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/tmp") / ".cache" / "torvane" / "locale";
}

}  // namespace

bool LaunchesThroughWine(const DeploymentSettings& settings) {
    if (settings.RegistryStore == DeploymentSettings::RegistryKind::Wine) return true;
    const std::string command = settings.LaunchCommand.substr(0, settings.LaunchCommand.find(' '));
    return std::filesystem::path(command).filename().string().rfind("wine", 0) == 0;
}

std::string WineLocaleFor(const DeploymentSettings& settings) {
    if (!settings.WineLocale.empty()) return settings.WineLocale;
    const std::string codePage = UpperAscii(settings.CodePage);
    for (const auto& usual : kUsualLocales)
        if (codePage == usual.CodePage) return usual.Locale;
    return {};
}

WineEnvironment PrepareWineEnvironment(const DeploymentSettings& settings) {
    WineEnvironment environment;
    environment.Variables.push_back("WINEPREFIX=" + settings.WinePrefix.string());
    const std::string locale = WineLocaleFor(settings);
    if (locale.empty()) {
        environment.Problem = "no locale is known for code page " + settings.CodePage +
                              "; set wine_locale (for example ko_KR.CP949)";
        return environment;
    }
    if (!LocaleAvailable(locale)) {
        const std::filesystem::path cache = LocaleCache();
        const std::filesystem::path compiled = cache / locale;
        std::error_code ec;
        if (!std::filesystem::exists(compiled / "LC_CTYPE", ec)) {
            // "ko_KR.CP949": the source locale ko_KR with the character set CP949.
            const std::size_t dot = locale.find('.');
            if (dot == std::string::npos) {
                environment.Problem = "locale " + locale +
                                      " is not installed and names no "
                                      "character set to build it with";
                return environment;
            }
            std::filesystem::create_directories(cache, ec);
            const ProgramResult built = RunProgram({"localedef", "-i", locale.substr(0, dot), "-f",
                                                    locale.substr(dot + 1), compiled.string()});
            // localedef reports warnings with status 1 and still writes the locale.
            if (!std::filesystem::exists(compiled / "LC_CTYPE", ec)) {
                environment.Problem = "locale " + locale + " is not installed and localedef " +
                                      "could not build it in " + cache.string() + ": " +
                                      (built.Started ? built.Output
                                                     : "localedef is missing (install the "
                                                       "locales package)");
                return environment;
            }
        }
        environment.Variables.push_back("LOCPATH=" + cache.string());
    }
    environment.Variables.push_back("LC_ALL=" + locale);
    return environment;
}
