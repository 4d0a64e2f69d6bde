#include "Download.h"
#include "Paths.h"

#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace dormane {
namespace {

using test::ChildProcess;
using test::ReadFileBytes;
using test::ScopedEnv;
using test::TempDir;
using test::WriteFileBytes;

constexpr std::size_t kStallBytes = 65536; // what the server's /stall/ path sends

// The local firmware mirror: a served folder, a private CA with two server certificates, and
// the servers, each started when a test first needs it and ended when the test process ends.
class Mirror {
public:
    static Mirror& Get() {
        static Mirror mirror;
        return mirror;
    }

    const std::string& Error() const { return m_error; }
    std::string Root() const { return m_dir.Path() + "/root"; }
    const std::string& Big() const { return m_big; }
    const std::string& Small() const { return m_small; }
    const std::string& Huge() const { return m_huge; }
    std::string CaFile() { return MakeCerts() ? m_dir.Path() + "/ca.pem" : std::string{}; }
    std::string OtherCaFile() {
        return MakeCerts() ? m_dir.Path() + "/other-ca.pem" : std::string{};
    }

    std::string TlsBase() { return Base(m_tls, "server"); }
    std::string WrongHostBase() { return Base(m_wrongHost, "wrong-host"); }
    std::string PlainBase() { return Base(m_plain, ""); }

private:
    Mirror() : m_noProxy("no_proxy", "*"), m_noProxyUpper("NO_PROXY", "*") {
        if (m_dir.Path().empty()) {
            m_error = "no temp folder";
            return;
        }
        const std::string root = Root();
        const std::string folder = root + "/pm/pm_firmware/pelko_zuro";
        if (!MakeFolders(folder, 0700)) {
            m_error = "cannot make " + folder;
            return;
        }
        // More than a few transfer chunks, and not a multiple of any buffer size.
        // Larger than the stall path's first part, within the size limit of a body.
        m_big = test::PatternBytes(900 * 1024 + 123, 1);
        m_huge = test::PatternBytes(kMaxBodyBytes + 1, 3);
        m_small = test::PatternBytes(1000, 2);
        WriteFileBytes(root + "/big.bin", m_big);
        WriteFileBytes(root + "/small.bin", m_small);
        WriteFileBytes(root + "/huge.bin", m_huge);
        WriteFileBytes(root + "/secret.txt", "local secret\n");
        WriteFileBytes(folder + "/pelko_z_standby_V8.13_000E6094h.bin", "standby 8.13 image");
        WriteFileBytes(folder + "/pelko_z_non_standby_V8.03_000E4712h.bin", "non-standby 8.03");
    }

    bool Openssl(std::vector<std::string> args) {
        args.insert(args.begin(), DORMANE_TEST_OPENSSL);
        if (test::RunProgram(args) == 0)
            return true;
        m_error = "openssl failed:";
        for (const auto& a : args)
            m_error += " " + a;
        return false;
    }

    bool SelfSignedCa(const std::string& name, const std::string& subject) {
        const std::string d = m_dir.Path() + "/";
        return Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-keyout", d + name + ".key", "-out", d + name + ".pem", "-days",
                        "2", "-subj", subject});
    }

    bool LeafCert(const std::string& name, const std::string& altName, int serial) {
        const std::string d = m_dir.Path() + "/";
        WriteFileBytes(d + name + ".ext",
                       "subjectAltName=" + altName + "\nbasicConstraints=CA:FALSE\n");
        return Openssl({"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-keyout", d + name + ".key", "-out", d + name + ".csr", "-subj",
                        "/CN=" + name}) &&
               Openssl({"x509", "-req", "-in", d + name + ".csr", "-CA", d + "ca.pem", "-CAkey",
                        d + "ca.key", "-set_serial", std::to_string(serial), "-days", "2", "-out",
                        d + name + ".pem", "-extfile", d + name + ".ext"});
    }

    bool MakeCerts() {
        if (!m_certsTried) {
            m_certsTried = true;
            m_certsMade = m_error.empty() && SelfSignedCa("ca", "/CN=Dormane test CA") &&
                          SelfSignedCa("other-ca", "/CN=Another test CA") &&
                          LeafCert("server", "IP:127.0.0.1", 1) &&
                          LeafCert("wrong-host", "DNS:elsewhere.invalid", 2);
        }
        return m_certsMade;
    }

    // cert empty: plain HTTP.
    std::string Base(std::unique_ptr<ChildProcess>& server, const std::string& cert) {
        if (!m_error.empty())
            return {};
        if (!server) {
            std::vector<std::string> argv = {DORMANE_TEST_PYTHON, DORMANE_TEST_SERVER_SCRIPT,
                                             "--root", Root()};
            if (!cert.empty()) {
                if (!MakeCerts())
                    return {};
                const std::string d = m_dir.Path() + "/";
                argv.insert(argv.end(), {"--cert", d + cert + ".pem", "--key", d + cert + ".key"});
            }
            server = std::make_unique<ChildProcess>(argv);
            const std::string port = server->Started() ? server->ReadLine() : std::string{};
            if (port.empty()) {
                m_error = "the firmware server did not start";
                return {};
            }
            m_ports[&server] = port;
        }
        return (cert.empty() ? "http://127.0.0.1:" : "https://127.0.0.1:") + m_ports[&server];
    }

    ScopedEnv m_noProxy; // the servers are local; a proxy of the machine must not get between
    ScopedEnv m_noProxyUpper;
    TempDir m_dir;
    std::string m_error;
    std::string m_big, m_small, m_huge;
    bool m_certsTried = false, m_certsMade = false;
    std::unique_ptr<ChildProcess> m_tls, m_wrongHost, m_plain;
    std::map<const void*, std::string> m_ports;
};

// A port on 127.0.0.1 on which nothing listens.
std::string RefusedPort() {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    std::string port;
    if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = std::to_string(ntohs(addr.sin_port));
    if (s >= 0)
        close(s);
    return port;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size())
        text.replace(pos, from.size(), to);
}

// {tls}, {wrong}, {plain}: the servers' base URLs; {tlshost}, {plainhost}: their host:port;
// {refused}: a closed port; {root}: the served folder.
std::string ExpandUrl(std::string url) {
    Mirror& m = Mirror::Get();
    auto hostPort = [](const std::string& base) {
        const std::size_t slashes = base.find("//");
        return slashes == std::string::npos ? std::string{} : base.substr(slashes + 2);
    };
    if (url.find("{tls") != std::string::npos) {
        ReplaceAll(url, "{tlshost}", hostPort(m.TlsBase()));
        ReplaceAll(url, "{tls}", m.TlsBase());
    }
    if (url.find("{wrong}") != std::string::npos)
        ReplaceAll(url, "{wrong}", m.WrongHostBase());
    if (url.find("{plain") != std::string::npos) {
        ReplaceAll(url, "{plainhost}", hostPort(m.PlainBase()));
        ReplaceAll(url, "{plain}", m.PlainBase());
    }
    if (url.find("{refused}") != std::string::npos)
        ReplaceAll(url, "{refused}", RefusedPort());
    ReplaceAll(url, "{root}", m.Root());
    return url;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        Mirror& m = Mirror::Get();
        ASSERT_TRUE(m.Error().empty()) << m.Error();
        ASSERT_FALSE(m_data.Path().empty());
        m_xdg = std::make_unique<ScopedEnv>("XDG_DATA_HOME", m_data.Path().c_str());
        ASSERT_EQ(InitLocalAppPaths(), 1);
        DownloadOptions options;
        options.caFile = m.CaFile();
        SetDownloadOptions(options);
    }
    void TearDown() override { SetDownloadOptions({}); }

    void SetCaFile(const std::string& caFile) {
        DownloadOptions options = GetDownloadOptions();
        options.caFile = caFile;
        SetDownloadOptions(options);
    }

    // The temp file is a regular file for the owner alone.
    void ExpectPrivateFile() {
        const mode_t mode = ModeOf(g_strFirmwarePath);
        EXPECT_TRUE(S_ISREG(mode)) << g_strFirmwarePath;
        EXPECT_EQ(mode & 07777, 0600u);
    }

    TempDir m_data;
    std::unique_ptr<ScopedEnv> m_xdg;
};

enum class Ca { Good, None, Other };
enum class Content { Big, FirstHalf, Small, Empty, StartOfHuge };

struct UrlCase {
    const char* name;
    const char* url;
    Ca ca;
    int result;
    Content content;    // what the temp file holds afterwards
    const char* reason; // part of the sentence a failure gives
};

class DownloadUrl : public DownloadTest, public ::testing::WithParamInterface<UrlCase> {};

TEST_P(DownloadUrl, StoresWhatArrivedAndReportsHowItEnded) {
    const UrlCase& c = GetParam();
    Mirror& m = Mirror::Get();
    SetCaFile(c.ca == Ca::Good ? m.CaFile() : c.ca == Ca::Other ? m.OtherCaFile() : "");
    const std::string url = ExpandUrl(c.url);
    ASSERT_TRUE(m.Error().empty()) << m.Error();

    std::string reason;
    EXPECT_EQ(DownloadFile(url, &reason), c.result) << url << ": " << reason;
    if (c.reason)
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    else
        EXPECT_EQ(reason, "");

    const std::string written = ReadFileBytes(g_strFirmwarePath);
    switch (c.content) {
    case Content::Big:
        EXPECT_TRUE(written == m.Big()) << "size " << written.size();
        break;
    case Content::FirstHalf:
        EXPECT_TRUE(written == m.Big().substr(0, m.Big().size() / 2)) << "size " << written.size();
        break;
    case Content::Small:
        EXPECT_TRUE(written == m.Small()) << "size " << written.size();
        break;
    case Content::Empty:
        EXPECT_EQ(written.size(), 0u);
        break;
    case Content::StartOfHuge:
        // Stopped at the limit: nothing past it was stored.
        EXPECT_LE(written.size(), kMaxBodyBytes);
        EXPECT_TRUE(written == m.Huge().substr(0, written.size()));
        break;
    }
    ExpectPrivateFile();
}

const UrlCase kUrlCases[] = {
    {"WholeImage", "{tls}/big.bin", Ca::Good, kDownloadOk, Content::Big, nullptr},
    {"EmptyBody", "{tls}/empty", Ca::Good, kDownloadOk, Content::Empty, nullptr},
    // An error page is no image: the status decides before a byte of it is stored.
    {"ServerErrorStatus", "{tls}/error", Ca::Good, kDownloadOpenUrlFailed, Content::Empty,
     "HTTP status 500"},
    {"NotFoundStatus", "{tls}/no-such-image.bin", Ca::Good, kDownloadOpenUrlFailed, Content::Empty,
     "HTTP status 404"},
    {"RedirectIsFollowed", "{tls}/redirect-to/https/{tlshost}/small.bin", Ca::Good, kDownloadOk,
     Content::Small, nullptr},
    {"BrokenOffMidBodyKeepsTheBytesReceived", "{tls}/cut/big.bin", Ca::Good, kDownloadReadFailed,
     Content::FirstHalf, "of the 921723 announced"},
    {"BrokenOffBeforeTheBody", "{tls}/headers-only/big.bin", Ca::Good, kDownloadReadFailed,
     Content::Empty, "ended after 0 bytes"},
    {"ChunkedBodyBrokenOff", "{tls}/chunked-cut/big.bin", Ca::Good, kDownloadReadFailed,
     Content::FirstHalf, "460861 bytes"},
    {"BodyPastTheSizeLimit", "{tls}/huge.bin", Ca::Good, kDownloadReadFailed, Content::StartOfHuge,
     "grew past 1024 KB"},
    {"UntrustedCertificate", "{tls}/big.bin", Ca::None, kDownloadOpenUrlFailed, Content::Empty,
     "certificate is not trusted"},
    {"CertificateOfAnotherCa", "{tls}/big.bin", Ca::Other, kDownloadOpenUrlFailed, Content::Empty,
     "certificate is not trusted"},
    {"CertificateForAnotherHost", "{wrong}/big.bin", Ca::Good, kDownloadOpenUrlFailed,
     Content::Empty, "certificate is not trusted"},
    {"ConnectionRefused", "https://127.0.0.1:{refused}/big.bin", Ca::Good, kDownloadOpenUrlFailed,
     Content::Empty, "could not be reached"},
    {"RedirectFromHttpsToHttpRefused", "{tls}/redirect-to/http/{plainhost}/big.bin", Ca::Good,
     kDownloadOpenUrlFailed, Content::Empty, "could not be reached"},
    {"RedirectToLocalFileRefused", "{tls}/redirect-to/file/{root}/secret.txt", Ca::Good,
     kDownloadOpenUrlFailed, Content::Empty, "could not be reached"},
    {"PlainHttpMirror", "{plain}/big.bin", Ca::None, kDownloadOk, Content::Big, nullptr},
    {"PlainHttpNotFound", "{plain}/no-such-image.bin", Ca::None, kDownloadOpenUrlFailed,
     Content::Empty, "HTTP status 404"},
    {"LocalFile", "file://{root}/big.bin", Ca::None, kDownloadOk, Content::Big, nullptr},
    {"LocalFilePastTheSizeLimit", "file://{root}/huge.bin", Ca::None, kDownloadReadFailed,
     Content::StartOfHuge, "grew past"},
    {"MissingLocalFile", "file://{root}/no-such-image.bin", Ca::None, kDownloadOpenUrlFailed,
     Content::Empty, "could not be reached"},
    {"UnsupportedScheme", "ftp://127.0.0.1:{refused}/big.bin", Ca::None, kDownloadOpenUrlFailed,
     Content::Empty, "could not be reached"},
    {"EmptyUrl", "", Ca::None, kDownloadOpenUrlFailed, Content::Empty, "could not be reached"},
};

INSTANTIATE_TEST_SUITE_P(Table, DownloadUrl, ::testing::ValuesIn(kUrlCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FirmwareUrl, PathsOnTheServerForEachMode) {
    EXPECT_EQ(FirmwareUrl(true), "https://firmware.voxtrel.com/pm/pm_firmware/pelko_zuro/"
                                 "pelko_z_standby_V8.13_000E6094h.bin");
    EXPECT_EQ(FirmwareUrl(false), "https://firmware.voxtrel.com/pm/pm_firmware/pelko_zuro/"
                                  "pelko_z_non_standby_V8.03_000E4712h.bin");
    EXPECT_EQ(FirmwareUrl(true, "file:///srv/mirror/"),
              "file:///srv/mirror/pm/pm_firmware/pelko_zuro/pelko_z_standby_V8.13_000E6094h.bin");
    EXPECT_EQ(FirmwareUrl(false, "https://m.example:8443//"),
              "https://m.example:8443/pm/pm_firmware/pelko_zuro/"
              "pelko_z_non_standby_V8.03_000E4712h.bin");
    EXPECT_EQ(GetDownloadOptions().baseUrl, kFirmwareBaseUrl);
}

TEST_F(DownloadTest, EachModeFetchesItsImageFromAMirror) {
    Mirror& m = Mirror::Get();
    for (const std::string& base : {m.TlsBase(), m.TlsBase() + "/", "file://" + m.Root()}) {
        for (const bool enable : {true, false}) {
            SCOPED_TRACE(base + (enable ? " enable" : " disable"));
            ASSERT_EQ(DownloadFile(FirmwareUrl(enable, base)), kDownloadOk);
            EXPECT_EQ(ReadFileBytes(g_strFirmwarePath),
                      enable ? "standby 8.13 image" : "non-standby 8.03");
        }
    }
}

TEST_F(DownloadTest, AsksPastAnyCache) {
    ASSERT_EQ(DownloadFile(Mirror::Get().TlsBase() + "/echo-headers"), kDownloadOk);
    const std::string headers = ReadFileBytes(g_strFirmwarePath);
    EXPECT_NE(headers.find("Cache-Control: no-cache"), std::string::npos) << headers;
    EXPECT_NE(headers.find("Pragma: no-cache"), std::string::npos) << headers;
}

enum class Earlier { ReadOnly, OpenToAll, SymlinkToOutside, DanglingSymlink, HardLinkToOutside };

struct EarlierCase {
    const char* name;
    Earlier earlier;
};

class EarlierTempFile : public DownloadTest, public ::testing::WithParamInterface<EarlierCase> {};

TEST_P(EarlierTempFile, IsReplacedByAFreshPrivateFile) {
    const std::string outside = m_data.Path() + "/outside.bin";
    const std::string dangling = m_data.Path() + "/not-there.bin";
    const std::string outsideBytes(5000, 'o'); // longer than the new file
    WriteFileBytes(outside, outsideBytes);
    const std::string& path = g_strFirmwarePath;
    switch (GetParam().earlier) {
    case Earlier::ReadOnly:
        WriteFileBytes(path, std::string(5000, 'x'));
        ASSERT_EQ(chmod(path.c_str(), 0400), 0);
        break;
    case Earlier::OpenToAll:
        WriteFileBytes(path, std::string(5000, 'x'));
        ASSERT_EQ(chmod(path.c_str(), 0666), 0);
        break;
    case Earlier::SymlinkToOutside:
        ASSERT_EQ(symlink(outside.c_str(), path.c_str()), 0);
        break;
    case Earlier::DanglingSymlink:
        ASSERT_EQ(symlink(dangling.c_str(), path.c_str()), 0);
        break;
    case Earlier::HardLinkToOutside:
        ASSERT_EQ(link(outside.c_str(), path.c_str()), 0);
        break;
    }

    EXPECT_EQ(DownloadFile("file://" + Mirror::Get().Root() + "/small.bin"), kDownloadOk);

    EXPECT_TRUE(ReadFileBytes(path) == Mirror::Get().Small());
    ExpectPrivateFile();
    EXPECT_EQ(ReadFileBytes(outside), outsideBytes);
    EXPECT_EQ(ModeOf(dangling), 0u) << "the link was followed";
}

const EarlierCase kEarlierCases[] = {
    {"ReadOnly", Earlier::ReadOnly},
    {"OpenToAll", Earlier::OpenToAll},
    {"SymlinkToOutside", Earlier::SymlinkToOutside},
    {"DanglingSymlink", Earlier::DanglingSymlink},
    {"HardLinkToOutside", Earlier::HardLinkToOutside},
};

INSTANTIATE_TEST_SUITE_P(Table, EarlierTempFile, ::testing::ValuesIn(kEarlierCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, TempFolderOccupiedByAFileGives51) {
    const std::string temp = TempFolder();
    ASSERT_EQ(rmdir(temp.c_str()), 0);
    WriteFileBytes(temp, "in the way");
    EXPECT_EQ(DownloadFile(Mirror::Get().TlsBase() + "/small.bin"), kDownloadFileFailed);
    EXPECT_EQ(ReadFileBytes(temp), "in the way");
}

TEST_F(DownloadTest, TempFilePathOccupiedByAFolderGives51) {
    ASSERT_EQ(mkdir(g_strFirmwarePath.c_str(), 0700), 0);
    WriteFileBytes(g_strFirmwarePath + "/keep", "kept");
    EXPECT_EQ(DownloadFile(Mirror::Get().TlsBase() + "/small.bin"), kDownloadFileFailed);
    EXPECT_EQ(ReadFileBytes(g_strFirmwarePath + "/keep"), "kept");
}

TEST_F(DownloadTest, ReadOnlyTempFolderGives51) {
    if (geteuid() == 0)
        GTEST_SKIP() << "folder permissions do not bind the superuser";
    ASSERT_EQ(chmod(TempFolder().c_str(), 0500), 0);
    EXPECT_EQ(DownloadFile(Mirror::Get().TlsBase() + "/small.bin"), kDownloadFileFailed);
}

// Runs in the death-test child: a file-size limit makes the write stop short and then fail,
// as a full disk would.
[[noreturn]] void DownloadWithFileSizeLimit(const std::string& url, rlim_t limit) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit fsize{limit, limit};
    setrlimit(RLIMIT_FSIZE, &fsize);
    _exit(DownloadFile(url));
}

TEST_F(DownloadTest, ShortWriteGives51) {
    const std::string url = "file://" + Mirror::Get().Root() + "/big.bin";
    EXPECT_EXIT(DownloadWithFileSizeLimit(url, 4096),
                ::testing::ExitedWithCode(kDownloadFileFailed), "");
}

TEST_F(DownloadTest, FillsThePathsWhenStartUpDidNot) {
    const std::string expected = g_strFirmwarePath;
    ASSERT_EQ(rmdir(TempFolder().c_str()), 0);
    g_strFirmwarePath.clear();
    g_strLocalAppData.clear();
    EXPECT_EQ(DownloadFile("file://" + Mirror::Get().Root() + "/small.bin"), kDownloadOk);
    EXPECT_EQ(g_strFirmwarePath, expected);
    EXPECT_TRUE(ReadFileBytes(expected) == Mirror::Get().Small());
}

TEST_F(DownloadTest, RecreatesARemovedTempFolder) {
    ASSERT_EQ(rmdir(TempFolder().c_str()), 0);
    EXPECT_EQ(DownloadFile("file://" + Mirror::Get().Root() + "/small.bin"), kDownloadOk);
    EXPECT_EQ(ModeOf(TempFolder()) & 0777, 0700u);
    ExpectPrivateFile();
}

// Waits for a condition that a working download reaches at once; the limit only keeps a
// broken one from hanging the test.
template <typename Condition> bool WaitFor(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

TEST_F(DownloadTest, CancelledDuringTheBodyGives54AndKeepsTheBytes) {
    const std::string url = Mirror::Get().TlsBase() + "/stall/big.bin";
    std::atomic<int> result{-1};
    std::thread worker([&] { result = DownloadFile(url); });
    const bool started =
        WaitFor([] { return ReadFileBytes(g_strFirmwarePath).size() >= kStallBytes; });
    CancelDownloads();
    worker.join();
    ASSERT_TRUE(started);
    EXPECT_EQ(result.load(), kDownloadReadFailed);
    EXPECT_TRUE(ReadFileBytes(g_strFirmwarePath) == Mirror::Get().Big().substr(0, kStallBytes));
}

TEST_F(DownloadTest, StalledServerGives54AndKeepsTheBytes) {
    // The server sends 64 KiB, then nothing for far longer than the stall time.
    DownloadOptions options = GetDownloadOptions();
    options.stallTimeoutSec = 1;
    SetDownloadOptions(options);
    std::string reason;
    EXPECT_EQ(DownloadFile(Mirror::Get().TlsBase() + "/stall/big.bin", &reason),
              kDownloadReadFailed);
    EXPECT_NE(reason.find("no data arrived for 1 seconds"), std::string::npos) << reason;
    EXPECT_TRUE(ReadFileBytes(g_strFirmwarePath) == Mirror::Get().Big().substr(0, kStallBytes));
}

TEST_F(DownloadTest, CancelledBeforeTheServerAnswersGives54) {
    // A listener that never accepts: the connection is made, the TLS handshake never ends.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const std::string url = "https://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x";

    std::atomic<int> result{-1};
    std::thread worker([&] { result = DownloadFile(url); });
    pollfd pending{listener, POLLIN, 0};
    const int ready = poll(&pending, 1, 30000);
    CancelDownloads();
    worker.join();
    close(listener);
    ASSERT_EQ(ready, 1) << "the download never connected";
    EXPECT_EQ(result.load(), kDownloadReadFailed);
    EXPECT_EQ(ReadFileBytes(g_strFirmwarePath).size(), 0u);
}

TEST_F(DownloadTest, CancelWithNothingInProgressSparesLaterDownloads) {
    CancelDownloads();
    EXPECT_EQ(DownloadFile(Mirror::Get().TlsBase() + "/small.bin"), kDownloadOk);
    EXPECT_TRUE(ReadFileBytes(g_strFirmwarePath) == Mirror::Get().Small());
}

} // namespace
} // namespace dormane
