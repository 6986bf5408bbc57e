#include "app/ErrLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/FileWrite.h"
#include "platform/SystemDir.h"

ErrLog g_ErrLog;

ErrLog::ErrLog() : m_szDirectory{}, m_szText{} {
    // A failed or truncated query leaves the directory empty (unknown).
    const UINT nLength = GetSystemDirectoryA(m_szDirectory, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH) m_szDirectory[0] = '\0';
}

void ErrLog::Add(const char* line) {
    if (line == nullptr) return;
    const std::size_t nText = std::strlen(m_szText);
    const std::size_t nLine = std::strlen(line);
    if (nLine + nText + 1 > static_cast<std::size_t>(kTextSize)) return;
    std::memcpy(m_szText + nText, line, nLine + 1);
}

void ErrLog::AddF(const char* format, ...) {
    if (format == nullptr) return;
    char szLine[512];
    va_list args;
    va_start(args, format);
    const int nLength = std::vsnprintf(szLine, sizeof(szLine), format, args);
    va_end(args);
    if (nLength < 0 || static_cast<std::size_t>(nLength) >= sizeof(szLine)) return;
    Add(szLine);
}

void ErrLog::Write() {
    if (m_szDirectory[0] == '\0') return;
    char szPath[MAX_PATH];
    const int nLength = std::snprintf(szPath, sizeof(szPath), "%s/%s", m_szDirectory, kFileName);
    if (nLength < 0 || static_cast<std::size_t>(nLength) >= sizeof(szPath)) return;

    // The directory is made on first use, so runs that never fail leave no trace.
    platform::CreateDirectoryTree(m_szDirectory);
    // A full disk or a failing drive keeps what could be written: the start of
    // the log is what tells why start-up failed.
    platform::OverwriteFile(szPath, m_szText);
}

void ErrLog::ClearForTesting() { std::memset(m_szText, 0, sizeof(m_szText)); }

void ErrLog::SetDirectoryForTesting(const char* directory) {
    std::memset(m_szDirectory, 0, sizeof(m_szDirectory));
    if (directory == nullptr) return;
    const std::size_t nLength = std::strlen(directory);
    if (nLength >= sizeof(m_szDirectory)) return;
    std::memcpy(m_szDirectory, directory, nLength);
}
