// The activity log C:\vp_log.txt, shared by every agent on the machine.
#pragma once

#include <windows.h>

// Opens (or creates, with a byte-order mark) the log file.
bool OpenActivityLog();

// Appends one record; does nothing while no log is open. Safe from any thread.
void WriteLogLine(const wchar_t* text);

// Formats and logs; the text is cut to the line buffer if it must be.
void WriteLogLineF(const wchar_t* format, ...);

// Closes the log; records written afterwards are dropped.
void CloseActivityLog();

// Formats one record, "YYYY-MM-DD hh:mm:ss.mmm:\t<text>\r\n", into line.
// A text too long for the line is cut, never the CR LF. Returns the number
// of characters written (without the terminator).
size_t FormatLogRecord(const SYSTEMTIME& time, const wchar_t* text, wchar_t* line, size_t lineChars);
