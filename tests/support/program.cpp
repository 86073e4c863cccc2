#include "support/program.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mpfr.h>

#include <algorithm>
#include <cmath>
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
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

}  // namespace

Folder::Folder() {
    std::string tmpl = (fs::temp_directory_path() / "drmpi-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
}

Folder::~Folder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void Folder::write(const std::string& name, const std::string& text) const {
    std::ofstream(fs::path(path_) / name, std::ios::binary) << text;
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

Outcome run(const std::string& args, const std::string& input, const std::string& file_name,
            const std::string& setup, const std::string& redirect, const std::string& program,
            const Folder& folder) {
    folder.write("input", input);
    const std::string cmd =
        "cd '" + folder.path() + "' && drmpi='" DRMPI_BINARY "' peak='" DRMPI_PEAK "' && " +
        (setup.empty() ? "" : "{ " + setup + "; } && ") + program + " " + args + " < input " +
        (redirect.empty() ? "> console 2> errors" : redirect);
    Outcome r;
    r.status = decode(std::system(cmd.c_str()));
    r.console = folder.read("console");
    r.errors = folder.read("errors");
    std::error_code ec;
    if (fs::is_regular_file(fs::path(folder.path()) / file_name, ec))
        r.file = folder.read(file_name);
    r.entries = folder.entries();
    r.peak = std::atoll(folder.read("peak").c_str()) * 1024;  // kB on Linux
    return r;
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
    if (status_ < 0) signal(SIGKILL);
    wait();
    close(out_);
}

bool Session::read_until(const std::string& text) {
    while (console_.find(text) == std::string::npos) {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, 20000) <= 0) return false;
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

std::string test_data(const std::string& name) { return slurp(DRMPI_TEST_DATA "/" + name); }

std::string pi_reference(int64_t count) {
    static const std::string all = test_data("pi-digits.txt");
    static const std::string file = all.substr(0, all.find_first_not_of("0123456789"));
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
    // The groups are the words of ten characters; the digit lines made from
    // them must give the text back exactly.
    const std::string text = file.substr(at + head.size());
    std::istringstream words(text);
    std::string digits, lines;
    for (std::string w; words >> w;)
        if (w.size() == 10) digits += w;
    for (size_t i = 0; i < digits.size(); i += 10) {
        char number[32];
        std::snprintf(number, sizeof number, "\n %8zu", i + 1);
        lines += (i % 80 == 0 ? number : "") + (" " + digits.substr(i, 10));
    }
    const bool all_digits = digits.find_first_not_of("0123456789") == std::string::npos;
    return lines == text && all_digits ? digits : "";
}

double reported_error(const std::string& text) {
    const std::string key = "Rounding Error= ";
    const size_t at = text.find(key);
    return at == std::string::npos ? -1.0 : std::strtod(text.c_str() + at + key.size(), nullptr);
}

}  // namespace drmpi_test
