// The user's choices: thirteen integers kept under one registry key of the
// current user, each as a REG_DWORD named after its field. Loaded at start-up
// and when the settings dialog opens, written back at shutdown and when the
// dialog is confirmed. Readers apply their own fall-backs to values outside
// the ranges the dialog offers; nothing is range-checked here.
#pragma once

class Settings {
public:
    // The key under HKEY_CURRENT_USER.
    static constexpr const char* kRegistryKey = "Software\\varen-ot-u\\Glimmerwing\\1.0";

    // Sets the defaults and seeds the random generator with timeGetTime.
    Settings();

    // Reads the values found in the registry into the record; a value is taken
    // only when it is a 4-byte REG_DWORD, the rest keep what they had. On a
    // first run (the key did not exist) nothing is read. Always 1.
    int Load();
    // Writes all thirteen fields as REG_DWORD values, creating the key when
    // missing. A write that fails leaves the stored file as it was and says
    // why in one line on stderr; the caller goes on. Always 1.
    int Save();

    int intChkFPS;     // frame-rate text shown when exactly 1
    int intChkCol;     // dark blue background and fog instead of black
    int intDisMod;     // full-screen size: 1 = 640 x 480, 2 = 800 x 600, 3 = 1024 x 768
    int intAspMod;     // 16:9 projection instead of 4:3
    int intChkAnim;    // animated skinned birds and whale
    int intChkLoop;    // birds may fly loops
    int intMode;       // 0 automatic, 1 user-steered
    int intBakGnd;     // moons and earth drawn
    int intBrdNumCur;  // birds in the flock
    int intPtlSizCur;  // particle size in percent
    int intPtlLngLif;  // longer particle life
    int intPtlTexIdx;  // particle texture 0..6
    int intPtlRndCol;  // random particle colours

    // True once Load has opened the key (whether or not it existed). A run
    // whose Load never did must not Save: it would write the defaults over
    // the values the user stored.
    bool m_bLoaded;
};

extern Settings g_Settings;
