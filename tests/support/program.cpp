#include "support/program.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace drmpi_test {

namespace {

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

Run run_program(const std::string& input, const std::string& file_name,
                const std::string& setup) {
    namespace fs = std::filesystem;
    std::string tmpl = (fs::temp_directory_path() / "drmpi-XXXXXX").string();
    const fs::path dir = mkdtemp(tmpl.data());
    std::ofstream(dir / "input") << input;
    std::string cmd = "cd '" + dir.string() + "' && ";
    if (!setup.empty()) cmd += "{ " + setup + "; } && ";
    cmd += "'" DRMPI_BINARY "' < input > console";
    const int raw = std::system(cmd.c_str());

    Run r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.console = slurp(dir / "console");
    std::error_code ec;
    r.file_exists = fs::is_regular_file(dir / file_name, ec);
    if (r.file_exists) r.file = slurp(dir / file_name);
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir, ec);
    return r;
}

const std::string& reference_digits() {
    static const std::string digits = [] {
        std::string s = slurp(DRMPI_TEST_DATA "/pi-digits.txt");
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        return s;
    }();
    return digits;
}

std::string file_digits(const std::string& file) {
    const std::string head = "  Pi = 3. ";
    const size_t at = file.find(head);
    if (at == std::string::npos) return "";
    std::istringstream lines(file.substr(at + head.size()));
    std::string line, digits;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string position, group;
        if (!(words >> position)) continue;
        while (words >> group) digits += group;
    }
    return digits;
}

}  // namespace drmpi_test
