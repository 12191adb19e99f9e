#include "GameVersions.h"

#include <random>

namespace publishtest {

namespace {

// Incompressible bytes, so transfers span many reads and archives many blocks.
std::string Noise(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(rng() & 0xFF);
    return out;
}

}  // namespace

std::vector<GameVersion> FiveGameVersions() {
    std::vector<GameVersion> versions;
    Tree t = {
        {"config.ini", "[LOGIN]\r\nVersion=0.0.0\r\nLanguage=Eng\r\n"},
        {"main.exe", "MZ client 1"},
        {"2ndmap.att", "a name that begins with a digit"},
        {"Data/Player/hero.bmd", "hero 1"},
        {"Data/Player/Skin/skin01.ozj", Noise(70000, 1)},
        {"Data/World1/terrain.att", "terrain 1"},
        {"Data/Old/gone.bmd", "to be removed"},
        {"Data/Old/Sub/deep.obj", "to be removed with its directory"},
        {"Data/Sound/music.wav", Noise(300000, 2)},
    };
    versions.push_back({"1.00.01", t});

    t["main.exe"] = "MZ client 2";
    t["Data/Player/hero.bmd"] = "hero 2";
    t["Data/Player/Armor/armor01.bmd"] = "new directory, new file";
    t["kamsg.dll"] = "substituted in every form";
    t["Data/vk_zp.dll"] = "substituted by name in per-file patches only";
    t["Data/Sound/music.wav"] = Noise(300000, 3);
    versions.push_back({"1.00.02", t});

    t.erase("Data/Old/gone.bmd");
    t.erase("Data/Old/Sub/deep.obj");
    t.erase("2ndmap.att");
    t["Data/World1/terrain.att"] = "terrain 3";
    versions.push_back({"1.00.03", t});

    // Mixed case: new names, and a changed file whose spelling changed only in case.
    t.erase("Data/World1/terrain.att");
    t["Data/World1/Terrain.ATT"] = "terrain 4";
    t["Data/NewPlace/MixedCase.BMD"] = "mixed";
    t["Data/NewPlace/lower.txt"] = "lower";
    versions.push_back({"1.00.04", t});

    t["Data/Player/hero.bmd"] = "hero 5, test server";
    t["Data/Test/only.bmd"] = "test server file";
    versions.push_back({"1.00.05", t, true});
    return versions;
}

}  // namespace publishtest
