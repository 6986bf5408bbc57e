#include "app/Settings.h"

#include <cstring>

#include "platform/Clock.h"
#include "platform/Random.h"
#include "platform/Registry.h"

Settings g_Settings;

namespace {

struct Field {
    const char* name;
    int Settings::*member;
};

// The registry value names are the field names, in the record's order.
constexpr Field kFields[] = {
    {"intChkFPS", &Settings::intChkFPS},       {"intChkCol", &Settings::intChkCol},
    {"intDisMod", &Settings::intDisMod},       {"intAspMod", &Settings::intAspMod},
    {"intChkAnim", &Settings::intChkAnim},     {"intChkLoop", &Settings::intChkLoop},
    {"intMode", &Settings::intMode},           {"intBakGnd", &Settings::intBakGnd},
    {"intBrdNumCur", &Settings::intBrdNumCur}, {"intPtlSizCur", &Settings::intPtlSizCur},
    {"intPtlLngLif", &Settings::intPtlLngLif}, {"intPtlTexIdx", &Settings::intPtlTexIdx},
    {"intPtlRndCol", &Settings::intPtlRndCol},
};

LONG OpenSettingsKey(HKEY* key, DWORD* disposition) {
    return RegCreateKeyExA(HKEY_CURRENT_USER, Settings::kRegistryKey, 0, "", REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, key, disposition);
}

}  // namespace

Settings::Settings()
    : intChkFPS(1),
      intChkCol(0),
      intDisMod(1),
      intAspMod(0),
      intChkAnim(1),
      intChkLoop(1),
      intMode(0),
      intBakGnd(1),
      intBrdNumCur(20),
      intPtlSizCur(100),
      intPtlLngLif(1),
      intPtlTexIdx(1),
      intPtlRndCol(0),
      m_bLoaded(false) {
    SRand(timeGetTime());
}

int Settings::Load() {
    HKEY hKey = nullptr;
    DWORD dwDisposition = 0;
    if (OpenSettingsKey(&hKey, &dwDisposition) != ERROR_SUCCESS) return 1;
    m_bLoaded = true;

    if (dwDisposition != REG_CREATED_NEW_KEY) {
        for (const Field& field : kFields) {
            DWORD dwType = 0;
            DWORD dwValue = 0;
            DWORD cbData = sizeof dwValue;
            if (RegQueryValueExA(hKey, field.name, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwValue),
                                 &cbData) == ERROR_SUCCESS &&
                dwType == REG_DWORD && cbData == sizeof dwValue) {
                std::memcpy(&(this->*field.member), &dwValue, sizeof dwValue);
            }
        }
    }
    RegCloseKey(hKey);
    return 1;
}

int Settings::Save() {
    HKEY hKey = nullptr;
    DWORD dwDisposition = 0;
    if (OpenSettingsKey(&hKey, &dwDisposition) != ERROR_SUCCESS) return 1;

    for (const Field& field : kFields) {
        DWORD dwValue = 0;
        std::memcpy(&dwValue, &(this->*field.member), sizeof dwValue);
        RegSetValueExA(hKey, field.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof dwValue);
    }
    RegCloseKey(hKey);
    return 1;
}
