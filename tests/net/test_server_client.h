// The test side of tools/test_server: puts files into the served folder,
// builds URLs with faults, switches the HTTPS certificate and reads the
// server's request log. The server itself is started by the CTest fixture
// "test_server" (tools/test_server/CMakeLists.txt) and serves
// <build>/test_server/www on localhost ports 80 and 443.
#pragma once

#include <string>
#include <vector>

namespace net_testing {

// One line of the server's request log.
struct LoggedRequest {
    std::string scheme;  // "http" or "https"
    std::string path;    // request path as sent, faults included
    bool hasRange = false;
    std::string range;  // value of the Range header, e.g. "bytes=1000-"
    int status = 0;
    bool viaProxy = false;  // a proxy forwarded it (the request had a Via header)
};

// A private folder on the shared server, named by a nonce so that paths,
// fault counters and log lines of one test never mix with another's.
// The folder is removed when the object goes away.
class ServedFolder {
public:
    ServedFolder();
    ~ServedFolder();
    ServedFolder(const ServedFolder&) = delete;
    ServedFolder& operator=(const ServedFolder&) = delete;

    // Writes `bytes` as file `name` of this folder; false on failure.
    bool Put(const std::string& name, const std::string& bytes);
    // Deletes file `name` of this folder (later requests get 404); false on failure.
    bool Remove(const std::string& name);
    // "http://localhost/<nonce>/<name>". The downloader takes the port from
    // its `secure` flag, not from the URL.
    std::wstring Url(const std::string& name) const;
    // The same file through the fault prefix, e.g. faults "close-after=1000,times=1".
    std::wstring FaultUrl(const std::string& faults, const std::string& name) const;
    // Requests of this folder's paths logged since the folder was made, in order.
    std::vector<LoggedRequest> Requests() const;

private:
    std::string m_nonce;
    std::wstring m_dir;
    size_t m_logMark = 0;
};

// Asks the server to serve its untrusted certificate (true) or the trusted one.
bool UseUntrustedCertificate(bool untrusted);

// Reproducible pseudo-random bytes.
std::string RandomBytes(size_t size, unsigned seed);

// The server's folder in Windows form (Z:\...\test_server).
std::wstring ServerStateDir();

}  // namespace net_testing
