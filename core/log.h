// The diagnostic log, log.txt in the data folder, appended to by every thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/texto.h"  // TextoParaLog belongs with the log's callers

namespace velorin {

// Above this size the next line first moves log.txt to log.old.txt.
inline constexpr std::int64_t LIMITE_LOG = 1048576;

// Starts logging into `pasta` + "log.txt"; does not touch the disk.
void AbrirLog(const std::string& pasta);
// Stops logging; later lines are dropped.
void FecharLog();
// Appends one line: local time, two blanks, the message, CR LF. Never fails to the caller: a
// line that cannot be written is lost and the next call starts afresh.
void Log(std::string_view mensagem);
// printf-style formatting (%s, %d, ...) into one Log line.
void LogFmt(const char* formato, ...) __attribute__((format(printf, 1, 2)));

// Path of the current log file; empty while closed.
std::string CaminhoLog();

}  // namespace velorin
