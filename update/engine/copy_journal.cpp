#include "engine/copy_journal.h"

#include <windows.h>

#include <cstdlib>
#include <sstream>

#include "engine/manifest_names.h"

namespace {

constexpr char kHeader[] = "Velisk copy journal 1";
constexpr char kCommit[] = "commit";

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out.data(), size,
                          nullptr, nullptr);
    return out;
}

// False for text that is not valid UTF-8.
bool FromUtf8(const std::string& text, std::wstring& out) {
    out.clear();
    if (text.empty()) return true;
    const int size =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) return false;
    out.assign(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out.data(), size);
    return true;
}

bool StartsWith(const std::string& text, const char* prefix, std::string& rest) {
    const std::string p = prefix;
    if (text.compare(0, p.size(), p) != 0) return false;
    rest = text.substr(p.size());
    return true;
}

// Digits only, no sign, no leading zero (but "0"), at most `limit`.
bool IsDecimal(const std::string& text, uint64_t limit, uint64_t& value) {
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (limit - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

bool ParseFileRecord(const std::string& line, CopyJournalFile& file) {
    std::string rest;
    std::string nameText;
    if (StartsWith(line, "new ", rest)) {
        file.existed = false;
        nameText = rest;
    } else if (StartsWith(line, "replace ", rest)) {
        const size_t blank = rest.find(' ');
        if (blank == std::string::npos) return false;
        if (!IsDecimal(rest.substr(0, blank), UINT64_MAX, file.size)) return false;
        file.existed = true;
        nameText = rest.substr(blank + 1);
    } else {
        return false;
    }
    return FromUtf8(nameText, file.name) && IsContainedManifestName(file.name);
}

bool Refuse(std::string& reason, const std::string& why) {
    reason = why;
    return false;
}

std::vector<std::string> SplitLines(const std::string& text, bool& complete) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) break;
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    complete = start == text.size();  // the last line has its "\n"
    return lines;
}

}  // namespace

bool IsTickCountName(const std::wstring& name) {
    if (name.empty() || name.size() > 10) return false;
    std::string digits;
    for (wchar_t c : name) {
        if (c < L'0' || c > L'9') return false;
        digits += static_cast<char>(c);
    }
    uint64_t value = 0;
    return IsDecimal(digits, 0xFFFFFFFFull, value);
}

bool IsBackupFolderName(const std::wstring& name) {
    const std::wstring prefix = kBackupFolderPrefix;
    if (name.compare(0, prefix.size(), prefix) == 0) return IsTickCountName(name.substr(prefix.size()));
    return IsTickCountName(name);
}

std::wstring BackupFolderName(unsigned long ticks) { return kBackupFolderPrefix + std::to_wstring(ticks); }

bool IsStagingFolderName(const std::wstring& name) {
    return name.compare(0, 6, L"update") == 0 && IsTickCountName(name.substr(6));
}

std::string FormatCopyJournal(const CopyJournal& journal) {
    if (!IsBackupFolderName(journal.backupName)) return std::string();
    if (!journal.stagingName.empty() && !IsStagingFolderName(journal.stagingName)) return std::string();
    std::ostringstream out;
    out << kHeader << "\n";
    out << "backup " << ToUtf8(journal.backupName) << "\n";
    if (!journal.stagingName.empty()) out << "staging " << ToUtf8(journal.stagingName) << "\n";
    out << "files " << journal.files.size() << "\n";
    for (const CopyJournalFile& file : journal.files) {
        const std::string name = ToUtf8(file.name);
        if (name.empty() || !IsContainedManifestName(file.name)) return std::string();
        if (file.existed) {
            out << "replace " << file.size << " " << name << "\n";
        } else {
            out << "new " << name << "\n";
        }
    }
    return out.str();
}

std::string CopyJournalCommitRecord() { return std::string(kCommit) + "\n"; }

bool ParseCopyJournal(const std::string& text, CopyJournal& journal, std::string& reason) {
    journal = CopyJournal();
    bool complete = false;
    const std::vector<std::string> lines = SplitLines(text, complete);
    size_t at = 0;
    if (lines.size() < 2 || lines[at++] != kHeader) return Refuse(reason, "not a copy journal");
    std::string rest;
    if (!StartsWith(lines[at++], "backup ", rest) || !FromUtf8(rest, journal.backupName) ||
        !IsBackupFolderName(journal.backupName)) {
        journal.backupName.clear();
        return Refuse(reason, "backup folder name refused");
    }
    // Checked after the backup line, so that the backup of a journal cut
    // while it was written is known (and kept) too.
    if (!complete) return Refuse(reason, "the journal ends inside a record");
    if (lines.size() < 3) return Refuse(reason, "file count missing");
    if (StartsWith(lines[at], "staging ", rest)) {
        if (!FromUtf8(rest, journal.stagingName) || !IsStagingFolderName(journal.stagingName)) {
            return Refuse(reason, "staging folder name refused");
        }
        ++at;
    }
    uint64_t count = 0;
    if (at >= lines.size() || !StartsWith(lines[at++], "files ", rest) || !IsDecimal(rest, 10000000, count)) {
        return Refuse(reason, "file count missing");
    }
    if (lines.size() - at < count) return Refuse(reason, "fewer file records than counted");
    for (uint64_t i = 0; i < count; ++i) {
        CopyJournalFile file;
        if (!ParseFileRecord(lines[at++], file)) return Refuse(reason, "file record refused: " + lines[at - 1]);
        journal.files.push_back(file);
    }
    if (at < lines.size() && lines[at] == kCommit) {
        journal.committed = true;
        ++at;
    }
    if (at != lines.size()) return Refuse(reason, "unexpected record: " + lines[at]);
    return true;
}
