// The start-up log: progress lines collected in memory and written to
// GlimmerwingErrLog.txt in the system directory only when start-up fails.
#pragma once

#include "platform/Win32Types.h"

class ErrLog {
public:
    static constexpr int kTextSize = 20000;
    static constexpr const char* kFileName = "GlimmerwingErrLog.txt";

    ErrLog();

    // Appends one line as given (the caller supplies tabs and line feed). A
    // line that would make the text reach kTextSize characters is dropped.
    void Add(const char* line);
    // Formats a line like printf and adds it; a line of 512 characters or more
    // is dropped as a whole, never cut.
    void AddF(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Replaces the log file's content with the whole text, or as much of it
    // as the disk takes. Writes nothing when the system directory is unknown
    // or the file's path would not fit into MAX_PATH; failures are not
    // reported.
    void Write();

    const char* Text() const { return m_szText; }
    void ClearForTesting();
    // Sets the directory the file goes to; a path of MAX_PATH characters or
    // more leaves the directory unknown.
    void SetDirectoryForTesting(const char* directory);

private:
    char m_szDirectory[MAX_PATH];
    char m_szText[kTextSize];
};

extern ErrLog g_ErrLog;
