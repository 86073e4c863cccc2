#include "support/program.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace drmpi_test {

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

int decode(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

}  // namespace

Folder::Folder() {
    std::string tmpl = (fs::temp_directory_path() / "drmpi-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
}

Folder::~Folder() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void Folder::write(const std::string& name, const std::string& text) const {
    std::ofstream(fs::path(path_) / name, std::ios::binary) << text;
}

bool Folder::has(const std::string& name) const {
    std::error_code ec;
    return fs::is_regular_file(fs::path(path_) / name, ec);
}

std::string Folder::read(const std::string& name) const { return slurp(fs::path(path_) / name); }

std::vector<std::string> Folder::entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_)) {
        const std::string n = e.path().filename().string();
        if (n != "input" && n != "console" && n != "errors" && n != "peak") names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
}

Outcome run_in(const Folder& folder, const std::string& args, const std::string& input,
               const std::string& file_name, const std::string& setup,
               const std::string& redirect, const std::string& program) {
    folder.write("input", input);
    std::string cmd = "cd '" + folder.path() + "' && drmpi='" DRMPI_BINARY "' peak='" DRMPI_PEAK
                      "' && ";
    if (!setup.empty()) cmd += "{ " + setup + "; } && ";
    cmd += program + " " + args + " < input " +
           (redirect.empty() ? "> console 2> errors" : redirect);
    Outcome r;
    r.status = decode(std::system(cmd.c_str()));
    r.console = folder.read("console");
    r.errors = folder.read("errors");
    if (folder.has(file_name)) r.file = folder.read(file_name);
    r.entries = folder.entries();
    r.peak = std::atoll(folder.read("peak").c_str()) * 1024;  // kB on Linux
    return r;
}

Outcome run(const std::string& args, const std::string& input, const std::string& file_name,
            const std::string& setup, const std::string& redirect, const std::string& program) {
    return run_in(Folder(), args, input, file_name, setup, redirect, program);
}

Session::Session(const Folder& folder) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
        if (chdir(folder.path().c_str()) == 0) execl(DRMPI_BINARY, DRMPI_BINARY, nullptr);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
}

Session::~Session() {
    if (running()) signal(SIGKILL);
    wait();
    if (in_ >= 0) close(in_);
    close(out_);
}

bool Session::read_until(const std::string& text, int timeout_ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (console_.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now()).count();
        pollfd p{out_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return false;
        char buf[4096];
        const ssize_t got = read(out_, buf, sizeof buf);
        if (got <= 0) return false;
        console_.append(buf, static_cast<size_t>(got));
    }
    return true;
}

void Session::type(const std::string& text) {
    if (write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
}

void Session::signal(int sig) const { kill(pid_, sig); }

bool Session::running() {
    if (status_ >= 0) return false;
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) != pid_) return true;
    status_ = decode(raw);
    return false;
}

int Session::wait() {
    if (status_ < 0) {
        close(in_);
        in_ = -1;
        int raw = 0;
        waitpid(pid_, &raw, 0);
        status_ = decode(raw);
        char buf[4096];
        for (ssize_t got; (got = read(out_, buf, sizeof buf)) > 0;)
            console_.append(buf, static_cast<size_t>(got));
    }
    return status_;
}

const std::string& reference_digits() {
    static const std::string digits = [] {
        std::string s = slurp(DRMPI_TEST_DATA "/pi-digits.txt");
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        return s;
    }();
    return digits;
}

std::string pi_reference(int64_t count) {
    const std::string& file = reference_digits();
    if (count <= static_cast<int64_t>(file.size())) return file.substr(0, count);
    // 64 bits beyond the digits: pi rounded toward zero truncates to the same
    // digits unless 18 or more of the digits after them are all 9.
    mpfr_t pi;
    mpfr_init2(pi, static_cast<mpfr_prec_t>(std::ceil((count + 1) * std::log2(10.0)) + 64));
    mpfr_const_pi(pi, MPFR_RNDZ);
    mpfr_exp_t exponent = 0;
    char* text = mpfr_get_str(nullptr, &exponent, 10, static_cast<size_t>(count + 1), pi,
                              MPFR_RNDZ);
    const std::string digits(text + 1);
    mpfr_free_str(text);
    mpfr_clear(pi);
    return digits;
}

std::string file_digits(const std::string& file) {
    const std::string head = "  Pi = 3. ";
    const size_t at = file.find(head);
    if (at == std::string::npos) return "";
    std::string digits;
    size_t pos = at + head.size();
    bool short_line = false;  // a line of fewer than eight groups, which must be the last
    while (pos < file.size()) {
        // "\n %8d" then " dddddddddd" up to eight times.
        char number[16];
        std::snprintf(number, sizeof number, "\n %8zu", digits.size() + 1);
        if (short_line || file.compare(pos, 10, number) != 0) return "";
        pos += 10;
        int groups = 0;
        while (pos < file.size() && file[pos] == ' ') {
            if (groups == 8 || pos + 11 > file.size()) return "";
            const std::string g = file.substr(pos + 1, 10);
            if (!std::all_of(g.begin(), g.end(), [](char c) { return c >= '0' && c <= '9'; }))
                return "";
            digits += g;
            pos += 11;
            ++groups;
        }
        if (groups == 0) return "";
        short_line = groups < 8;
    }
    return digits;
}

double reported_error(const std::string& text) {
    const std::string key = "Rounding Error= ";
    const size_t at = text.find(key);
    return at == std::string::npos ? -1.0 : std::strtod(text.c_str() + at + key.size(), nullptr);
}

}  // namespace drmpi_test
