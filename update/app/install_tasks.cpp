// Installation chores around an update: the new version.ini, useless files,
// the firewall rule, the URL protocol, the uninstall entry's version and the
// desktop shortcut. None of them reports to the user; failures are logged or
// ignored, and the update goes on.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <boost/filesystem.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <cstdio>
#include <iostream>
#include <sstream>

#include "app/install_tasks.h"
#include "app/path_identity.h"
#include "app/program_start.h"
#include "app/protected_files.h"
#include "app/update_dlg.h"
#include "diag/command_line_quote.h"
#include "diag/command_values.h"
#include "diag/statistics.h"
#include "diag/text_format.h"
#include "diag/unit_log.h"
#include "engine/auto_updater.h"
#include "engine/manifest_names.h"
#include "engine/version_ini.h"

namespace fs = boost::filesystem;

namespace {

constexpr wchar_t kUpdate[] = L"update";
constexpr wchar_t kRegKey[] = L"regKey";
constexpr DWORD kNetshWaitMs = 2000;
constexpr size_t kMaxNetshCommandChars = 1023;
constexpr size_t kMaxShortcutParameterChars = 254;

std::wstring FormatBounded(size_t maxChars, const wchar_t* format, ...) {
    std::wstring buffer(maxChars + 1, L'\0');
    va_list args;
    va_start(args, format);
    std::vswprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    // A cut text ends at the buffer: the return value cannot say where, since
    // the C99 form gives the uncut length and the older form a negative one.
    buffer.resize(std::wcslen(buffer.c_str()));
    return buffer;
}

LSTATUS SetDefaultValue(HKEY key, const std::wstring& value) {
    return ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS SetNamedValue(HKEY key, const wchar_t* name, const std::wstring& value) {
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// The folder part of `dir` before its last backslash.
std::wstring CutBeforeLastBackslash(const std::wstring& dir) {
    const size_t cut = dir.rfind(L'\\');
    return cut == std::wstring::npos ? dir : dir.substr(0, cut);
}

}  // namespace

bool ReadMachineValue(const std::wstring& keyPath, const wchar_t* valueName, std::wstring& out) {
    velisk::UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.receive()) != ERROR_SUCCESS) {
        return false;
    }
    wchar_t buffer[256] = {};  // 512 bytes
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t);  // keep room for a NUL the value may lack
    DWORD type = 0;
    if (::RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return false;
    }
    out += buffer;
    return true;
}

bool ShortcutPointsToTarget(const std::wstring& shortcutName, const std::wstring& targetExe) {
    std::wstring desktop;
    if (!ReadMachineValue(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                          L"Common Desktop", desktop)) {
        return false;
    }
    const std::wstring link = desktop + L"\\" + shortcutName + L".lnk";

    const HRESULT init = ::CoInitialize(nullptr);
    wchar_t target[255] = {};
    bool resolved = false;
    {
        velisk::ComPtr<IShellLinkW> shellLink;
        velisk::ComPtr<IPersistFile> file;
        if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                         shellLink.receiveVoid())) &&
            SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, file.receiveVoid())) &&
            SUCCEEDED(file->Load(link.c_str(), STGM_READ)) &&
            SUCCEEDED(shellLink->GetPath(target, 255, nullptr, SLGP_RAWPATH))) {
            resolved = true;
        }
    }
    if (SUCCEEDED(init)) ::CoUninitialize();
    if (!resolved) return false;

    const std::wstring path(target);
    return path.size() >= targetExe.size() &&
           path.compare(path.size() - targetExe.size(), targetExe.size(), targetExe) == 0;
}

bool CUpdateDlg::InstallNewVersionIni() {
    const std::wstring folder = m_installDir + m_stagingDir;
    if (m_heldIni) {
        // The verified bytes with their signature, never the file the
        // command line named (it may have changed since it was checked).
        if (m_heldIni->WriteCopiesTo(folder)) return true;
        UPDATEDLG_LOG(ERROR) << "new version.ini not installed into " << WideToUtf8Log(folder);
        return false;
    }
    try {
        const fs::path source(m_newIniPath);
        const fs::path dest = fs::path(folder) / source.filename();
        if (!fs::exists(dest.parent_path())) fs::create_directories(dest.parent_path());
        if (fs::exists(dest) && fs::equivalent(source, dest)) return true;  // named in place
        fs::copy_file(source, dest, fs::copy_options::overwrite_existing);
        return true;
    } catch (const fs::filesystem_error& e) {
        UPDATEDLG_LOG(ERROR) << "new version.ini not installed into " << WideToUtf8Log(folder) << ": " << e.what();
        return false;
    }
}

void CUpdateDlg::DeleteUselessFiles(std::wstring folder, const std::wstring& uselessFilesJson,
                                    const std::wstring& targetExe) {
    if (uselessFilesJson.size() <= 1) return;
    folder = WithTrailingSeparator(folder);
    boost::property_tree::wptree tree;
    try {
        std::wistringstream stream(uselessFilesJson);
        boost::property_tree::read_json(stream, tree);
    } catch (const boost::property_tree::json_parser_error& e) {
        UPDATEDLG_LOG(ERROR) << "read_json fail: " << e.message();
        return;
    }
    // Nothing the new version still needs, nor what starts the next update.
    const ProtectedFiles kept(folder, targetExe);
    if (!kept.manifestRead()) {
        UPDATEDLG_LOG(WARNING) << "useless files not deleted: the installed manifest cannot be read";
        return;
    }
    for (const auto& child : tree) {
        // Only names inside the installation: an absolute name, a drive
        // letter or ".." would delete files elsewhere.
        if (!IsContainedManifestName(child.second.data())) {
            UPDATEDLG_LOG(WARNING) << "delete useless file refused: " << WideToUtf8Log(child.second.data());
            continue;
        }
        if (const char* reason = kept.ReasonToKeep(child.second.data())) {
            UPDATEDLG_LOG(WARNING) << "delete useless file refused, " << reason << ": "
                                   << WideToUtf8Log(child.second.data());
            continue;
        }
        const std::wstring full = folder + child.second.data();
        UPDATEDLG_LOG(INFO) << "delete useless file: " << WideToUtf8Log(full);
        try {
            const fs::path path(full);
            if (fs::exists(path) && fs::is_regular_file(path)) fs::remove(path);
        } catch (const fs::filesystem_error& e) {
            UPDATEDLG_LOG(ERROR) << "delete useless fail: " << e.what();
        }
    }
}

void CUpdateDlg::UpdateFirewallRule(const std::wstring& iniPath, const std::wstring& programPath) {
    const std::wstring name = ReadIniString(iniPath, kUpdate, L"firewall", L"", 512);
    if (name.empty()) return;
    // The name goes to an elevated netsh, which deletes the rule of that
    // name: only plain names, never one with netsh's own words ("name=all"
    // deletes every rule of the machine).
    if (!IsPlainRuleName(name)) {
        UPDATEDLG_LOG(WARNING) << "firewall rule name refused: " << WideToUtf8Log(name);
        return;
    }
    // The system's own netsh: a netsh.exe beside Update or in the current
    // folder must never be the one that runs.
    const std::wstring netsh = SystemProgramPath(L"netsh.exe");
    if (netsh.empty() || ::GetFileAttributesW(netsh.c_str()) == INVALID_FILE_ATTRIBUTES) {
        UPDATEDLG_LOG(WARNING) << "netsh not found, firewall rule not renewed: " << WideToUtf8Log(netsh);
        return;
    }
    HiddenStart how;
    how.noStandardHandles = true;
    how.waitMs = kNetshWaitMs;
    how.maxCommandChars = kMaxNetshCommandChars;
    StartHiddenProgram(netsh, L"advfirewall firewall delete rule name=" + QuoteArgument(name), how);
    StartHiddenProgram(netsh,
                       L"advfirewall firewall add rule name=" + QuoteArgument(name) +
                           L" dir=in action=allow program=" + QuoteArgument(programPath),
                       how);
}

bool CUpdateDlg::RegisterUrlProtocol() {
    const std::wstring appCode = ReadIniString(m_newIniPath, kRegKey, L"appCode", L"", 512);
    if (appCode.empty()) {
        UPDATEDLG_LOG(WARNING) << "read appCode of regKey fail";
        return false;
    }
    wchar_t protocolBuffer[256] = {};
    if (GetProfileStringUtf8(kRegKey, L"protocol", L"", protocolBuffer, 256, m_newIniPath.c_str()) < 1) {
        UPDATEDLG_LOG(WARNING) << "read protocol of regKey fail";
        return false;
    }
    const std::wstring protocol(protocolBuffer);
    // appCode names a key below HKCU\\Software\\Classes: only a URL scheme
    // name, so that no version.ini can reach a file type or another class.
    if (!IsUrlSchemeName(appCode)) {
        UPDATEDLG_LOG(WARNING) << "appCode of regKey refused, not a URL scheme name: " << WideToUtf8Log(appCode);
        return false;
    }
    if (HasControlCharacter(protocol)) {
        UPDATEDLG_LOG(WARNING) << "protocol of regKey refused, control character: " << WideToUtf8Log(protocol);
        return false;
    }
    const std::wstring target = ReadIniString(m_newIniPath, kRegKey, L"target", L"", 512);
    if (target.empty()) {
        UPDATEDLG_LOG(WARNING) << "read target of regKey fail";
        return false;
    }
    // The target becomes part of the protocol's command line, as a program
    // inside the installation: a quote, or a name that leaves the
    // installation ("..", a drive, a leading separator), is refused.
    if (HasQuoteOrControl(target) || !IsContainedManifestName(target)) {
        UPDATEDLG_LOG(WARNING) << "target of regKey refused: " << WideToUtf8Log(target);
        return false;
    }

    velisk::UniqueRegKey classes;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_WRITE, classes.receive()) !=
        ERROR_SUCCESS) {
        UPDATEDLG_LOG(WARNING) << "open HKEY_CLASSES_ROOT key fail";
        return false;
    }
    velisk::UniqueRegKey scheme;
    LSTATUS ret = ::RegCreateKeyExW(classes.get(), appCode.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                    scheme.receive(), nullptr);
    if (ret != ERROR_SUCCESS) {
        UPDATEDLG_LOG(WARNING) << "create " << WideToUtf8Log(appCode) << " key fail, ret = " << ret;
        return false;
    }
    if ((ret = SetDefaultValue(scheme.get(), protocol)) != ERROR_SUCCESS) {
        UPDATEDLG_LOG(WARNING) << "Update protocol " << WideToUtf8Log(protocol) << " fail, ret = " << ret;
        return false;
    }
    const std::wstring path = m_installDir + target;
    if ((ret = SetNamedValue(scheme.get(), L"URL Protocol", path)) != ERROR_SUCCESS) {
        UPDATEDLG_LOG(WARNING) << "Update URL Protocol fail, ret = " << ret;
        return false;
    }
    velisk::UniqueRegKey icon;
    if ((ret = ::RegCreateKeyExW(scheme.get(), L"DefaultIcon", 0, nullptr, 0, KEY_WRITE, nullptr, icon.receive(),
                                 nullptr)) != ERROR_SUCCESS) {
        UPDATEDLG_LOG(WARNING) << "create DefaultIcon key fail, ret = " << ret;
        return false;
    }
    if ((ret = SetDefaultValue(icon.get(), path + L", 1")) != ERROR_SUCCESS) {
        UPDATEDLG_LOG(WARNING) << "Update DefaultIcon fail, ret = " << ret;
        return false;
    }
    velisk::UniqueRegKey command;
    if ((ret = ::RegCreateKeyExW(scheme.get(), L"shell\\open\\command", 0, nullptr, 0, KEY_WRITE, nullptr,
                                 command.receive(), nullptr)) != ERROR_SUCCESS) {
        UPDATEDLG_LOG(WARNING) << "create shell\\open\\command key fail, ret = " << ret;
        return false;
    }
    if ((ret = SetDefaultValue(command.get(), L"\"" + path + L"\" \"%1\"")) != ERROR_SUCCESS) {
        UPDATEDLG_LOG(WARNING) << "Update shell\\open\\command fail, ret = " << ret;
        return false;
    }
    return true;
}

bool CUpdateDlg::UpdateDisplayVersion(const std::wstring& iniPath) {
    wchar_t product[256] = {};
    if (GetProfileStringUtf8(kUpdate, L"productName", L"", product, 256, iniPath.c_str()) < 1) return false;
    const std::wstring keyPath =
        FormatBounded(255, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%ls", product);
    velisk::UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_ALL_ACCESS, key.receive()) != ERROR_SUCCESS) {
        return false;
    }
    const std::wstring version = ReadIniString(iniPath, kUpdate, L"versionName", L"", 512);
    if (version.empty()) return false;
    return SetNamedValue(key.get(), L"DisplayVersion", version.substr(1)) == ERROR_SUCCESS;
}

void CUpdateDlg::RefreshShortcut() {
    wchar_t name[40] = {};
    if (GetProfileStringUtf8(kUpdate, L"shortcut", L"", name, 40, m_newIniPath.c_str()) < 1) return;
    // The name becomes a file on the desktop and a parameter of the tool.
    if (!IsPlainFileName(name)) {
        UPDATEDLG_LOG(WARNING) << "shortcut name refused: " << WideToUtf8Log(name);
        return;
    }
    if (m_targetExe.empty() || ShortcutPointsToTarget(name, m_targetExe)) return;

    const std::wstring baseDir = CutBeforeLastBackslash(m_installDir);
    const std::wstring pinTool = m_installDir + L"Application/pctools/Pinwell.exe";
    const std::wstring tool = m_installDir + L"Application/pctools/Linkwell.exe";
    std::wstring parameters = L"-u";
    for (const std::wstring& value : {std::wstring(name), baseDir, m_targetExe, pinTool}) {
        AppendQuotedArgument(parameters, value);
    }
    UPDATEDLG_LOG(INFO) << "dir = " << WideToUtf8Log(tool);
    UPDATEDLG_LOG(INFO) << "cmd = " << WideToUtf8Log(parameters);
    if (parameters.size() > kMaxShortcutParameterChars) {
        UPDATEDLG_LOG(WARNING) << "shortcut tool not started, parameters too long";
        return;
    }
    const HINSTANCE started =
        ::ShellExecuteW(nullptr, L"runas", tool.c_str(), parameters.c_str(), nullptr, SW_HIDE);
    UPDATEDLG_LOG(INFO) << "runas as Linkwell " << static_cast<const void*>(started);
}

void CUpdateDlg::CopyStagedUpdate(const std::wstring& src, const std::wstring& dst, bool restart) {
    UPDATEDLG_LOG(INFO) << "CopyStagedUpdate from " << WideToUtf8Log(src) << " to " << WideToUtf8Log(dst);
    const std::wstring dstIni = dst + L"\\version.ini";
    const std::wstring target = ReadTargetExe(dstIni, 512);
    // A hidden run stages inside the installation. A folder elsewhere is
    // refused before anything happens (no process is ended on its
    // version.ini's word), and it is neither copied in nor removed.
    if (!IsPathInside(src, dst)) {
        UPDATEDLG_LOG(ERROR) << "copy refused: staging folder not inside the installation: " << WideToUtf8Log(src);
        LoadStatContext(dstIni.c_str(), dstIni.c_str());
        EndCopyMode(false, restart, src, dst, target);
        return;
    }
    // The verified private copy of the staged version.ini.
    const std::wstring& srcIni = m_newIniPath;
    m_relatedExes = ReadIniString(srcIni, kUpdate, L"related", L"", 512);
    killRelatedExe();
    m_uselessFiles = ReadIniString(srcIni, kUpdate, L"uselessFiles", L"", 2048);
    if (!target.empty()) CloseTargetClient(target);
    LoadStatContext(dstIni.c_str(), srcIni.c_str());
    if (m_updater == nullptr) m_updater = CreateAutoUpdater();

    // A crash in the middle of the copy must not start a half-copied client.
    if (restart) m_restartOnCrash = false;
    // An installation whose interrupted copy is not repaired is not copied into.
    bool ok = m_installationRepaired && m_updater != nullptr && m_updater->ApplyStagedUpdate(src.c_str(), dst.c_str(), 1);
    if (restart) m_restartOnCrash = true;

    if (ok && m_heldIni && !m_heldIni->WriteCopiesTo(dst)) {
        UPDATEDLG_LOG(ERROR) << "verified version.ini not installed into " << WideToUtf8Log(dst);
        ok = false;
    }
    if (ok) {
        DeleteUselessFiles(dst, m_uselessFiles, target);
        UpdateDisplayVersion(dstIni);
    }
    if (!target.empty()) UpdateFirewallRule(dstIni, dst + L"\\" + target);
    EndCopyMode(ok, restart, src, dst, target);
}

void CUpdateDlg::EndCopyMode(bool ok, bool restart, const std::wstring& src, const std::wstring& dst,
                             const std::wstring& target) {
    m_launcherPath = dst + L"\\zuZavozeVororiz.exe";
    wchar_t workDir[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, workDir);
    m_launcherDir = workDir;

    StatPoint point("imcopy_ifsucc");
    point.AddInt("is_succ", ok ? 1 : 0);
    point.AddInt("is_start", restart ? 1 : 0);
    point.AddString("src", src);
    point.AddString("dst", dst);
    UPDATEDLG_LOG(INFO) << "point imcopy_ifsucc: " << point.Send();

    if (restart && !target.empty()) {
        // By its full path in the installation, never found by the search order.
        const std::wstring client = WithTrailingSeparator(dst) + target;
        ::ShellExecuteW(nullptr, L"open", client.c_str(), nullptr, dst.c_str(), SW_SHOW);
    }
}
