#include "FakeLogind.h"

#include <systemd/sd-bus.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>

namespace testsupport {

namespace {

// Everyone on this bus may own any name and call anything: it exists for one test.
constexpr const char* kBusConfig = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=@SOCKET@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
)";

std::string MakeFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "dormane-bus-XXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    return made ? made : "";
}

} // namespace

PrivateBus::PrivateBus() : m_folder(MakeFolder()) {
    if (m_folder.empty())
        return;
    std::string config = kBusConfig;
    config.replace(config.find("@SOCKET@"), 8, m_folder + "/bus");
    const std::string configPath = m_folder + "/bus.conf";
    std::ofstream(configPath) << config;

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        dup2(pipeFds[1], 1);
        // Its complaints (it cannot raise its descriptor limit without privileges) stay in
        // the folder instead of the test's output.
        const int log = open((m_folder + "/daemon.log").c_str(), O_WRONLY | O_CREAT, 0600);
        if (log >= 0)
            dup2(log, 2);
        const std::string configArg = "--config-file=" + configPath;
        execlp("dbus-daemon", "dbus-daemon", configArg.c_str(), "--nofork", "--nopidfile",
               "--print-address=1", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    if (m_pid < 0) {
        close(pipeFds[0]);
        return;
    }
    // The daemon prints its address once it listens.
    std::string line;
    char c;
    while (read(pipeFds[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(pipeFds[0]);
    m_address = line;
}

PrivateBus::~PrivateBus() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    if (!m_folder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
    }
}

FakeLogind::FakeLogind(const std::string& busAddress, Answer answer) : m_answer(answer) {
    std::promise<bool> started;
    std::future<bool> ready = started.get_future();
    m_thread = std::thread([this, busAddress, &started] {
        bool ok =
            sd_bus_new(&m_bus) >= 0 && sd_bus_set_address(m_bus, busAddress.c_str()) >= 0 &&
            sd_bus_set_bus_client(m_bus, 1) >= 0 && sd_bus_start(m_bus) >= 0 &&
            sd_bus_add_object(m_bus, &m_slot, "/org/freedesktop/login1", &OnMessage, this) >= 0 &&
            sd_bus_request_name(m_bus, "org.freedesktop.login1", 0) >= 0;
        started.set_value(ok);
        if (ok)
            Run();
        sd_bus_slot_unref(m_slot);
        sd_bus_flush_close_unref(m_bus);
    });
    m_ready = ready.get();
}

FakeLogind::~FakeLogind() {
    m_stop = true;
    m_thread.join();
    for (int fd : m_readEnds)
        close(fd);
}

void FakeLogind::Run() {
    while (!m_stop) {
        const int r = sd_bus_process(m_bus, nullptr);
        if (r < 0)
            return;
        if (r == 0)
            sd_bus_wait(m_bus, 20 * 1000); // short, so that the destructor is heard soon
    }
}

int FakeLogind::OnMessage(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto* self = static_cast<FakeLogind*>(userdata);
    if (!sd_bus_message_is_method_call(m, "org.freedesktop.login1.Manager", "Inhibit"))
        return 0;
    const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
    if (sd_bus_message_read(m, "ssss", &what, &who, &why, &mode) < 0)
        return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "expected ssss");
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_calls.push_back({what, who, why, mode});
    }
    if (self->m_answer == Answer::Refuse)
        return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "Permission denied");
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return sd_bus_error_set_errno(error, errno);
    // Kept before the reply goes out: the caller may ask HeldLocks() as soon as it has it.
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_readEnds.push_back(fds[0]);
    }
    // The reply carries a copy of the write end; ours is closed at once.
    const int r = sd_bus_reply_method_return(m, "h", fds[1]);
    close(fds[1]);
    return r < 0 ? r : 1;
}

std::vector<InhibitCall> FakeLogind::Calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

int FakeLogind::HeldLocks() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    int held = 0;
    for (int fd : m_readEnds) {
        pollfd p{fd, POLLIN, 0};
        // A pipe's read end reports POLLHUP once every write end is closed.
        if (poll(&p, 1, 0) == 0 || !(p.revents & POLLHUP))
            ++held;
    }
    return held;
}

bool FakeLogind::WaitUntilAllReleased() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (HeldLocks() != 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace testsupport
