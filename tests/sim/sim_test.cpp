#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "sim_test.h"

std::string read_host(const std::string &path) {
    std::string bytes;
    if (!sim_read_host_file(path, &bytes))
        ADD_FAILURE() << "cannot read " << path;
    return bytes;
}

void write_host(const std::string &path, const std::string &bytes) {
    FILE *file = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, file) << path;
    ASSERT_EQ(bytes.size(), fwrite(bytes.data(), 1, bytes.size(), file));
    ASSERT_EQ(0, fclose(file));
}

/* Reads `fd` to its end, or until `until` has been read. */
static std::string read_until(int fd, const char *until) {
    std::string text;
    char buffer[4096];
    for (;;) {
        if (until != NULL && text.find(until) != std::string::npos)
            break;
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, (size_t)n);
    }
    return text;
}

RunResult run_forked(const std::function<void()> &child, const char *err_until) {
    int out[2], err[2];
    EXPECT_EQ(0, pipe(out));
    EXPECT_EQ(0, pipe(err));
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        child();
        _exit(0);
    }
    close(out[1]);
    close(err[1]);
    RunResult result;
    /* Small outputs: the pipes never fill while the other is read. */
    result.err = read_until(err[0], err_until);
    if (err_until != NULL)
        kill(pid, SIGKILL);
    result.out = read_until(out[0], NULL);
    close(out[0]);
    close(err[0]);
    waitpid(pid, &result.status, 0);
    result.code = WIFEXITED(result.status) ? WEXITSTATUS(result.status) : -1;
    return result;
}

RunResult run_host(const std::vector<std::string> &argv) {
    return run_forked(
        [&argv] {
            std::vector<char *> args;
            for (const std::string &arg : argv)
                args.push_back((char *)arg.c_str());
            args.push_back(NULL);
            execv(args[0], args.data());
            _exit(127);
        },
        NULL);
}

uint32_t reference_crc32(const std::string &bytes) {
    uint32_t reg = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        reg ^= c;
        for (int bit = 0; bit < 8; bit++)
            reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
    }
    return reg ^ 0xFFFFFFFFu;
}

void SimTest::SetUp() {
    char folder[] = "/tmp/tarsk4-sim-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    root_ = folder;
    use_family("nt40");
}

void SimTest::use_family(const char *family) {
    sim_machine_unload();
    static int machines;
    dir_ = root_ + "/machine-" + family + "-" + std::to_string(++machines);
    char error[512] = "";
    ASSERT_TRUE(sim_machine_create(dir_.c_str(), family, error, sizeof error)) << error;
    ASSERT_TRUE(sim_machine_load(dir_.c_str(), error, sizeof error)) << error;
}

void SimTest::reload() {
    char error[512] = "";
    ASSERT_TRUE(sim_machine_load(dir_.c_str(), error, sizeof error)) << error;
}

void SimTest::TearDown() {
    EXPECT_EQ(0, sim_open_key_count()) << "a test left a registry key open";
    EXPECT_EQ(0, sim_open_file_count()) << "a test left a file open";
    sim_machine_unload();
    std::string command = "rm -rf '" + root_ + "'";
    EXPECT_EQ(0, system(command.c_str()));
}

std::string SimTest::host(const std::string &below_c) const {
    return dir_ + "/C/" + below_c;
}

void SimTest::put(const std::string &below_c, const std::string &bytes) {
    write_host(host(below_c), bytes);
}

std::string SimTest::get(const std::string &below_c) const {
    return read_host(host(below_c));
}

bool SimTest::exists(const std::string &below_c) const {
    struct stat st;
    return stat(host(below_c).c_str(), &st) == 0;
}

void SimTest::make_dir(const std::string &below_c) {
    ASSERT_EQ(0, mkdir(host(below_c).c_str(), 0755)) << below_c;
}

std::string SimTest::machine_file(const char *name) const {
    return dir_ + "/" + name;
}
