/* The unit tests' machine on Linux: a simulated machine in a temporary
 * folder, created anew for every test. */
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sim_machine.h"
#include "test_machine.h"

static std::string host_folder;
static std::string scratch = "C:\\TESTS";

static std::string host_path(const std::string &windows_path) {
    std::string path = host_folder + "/C";
    for (size_t i = 2; i < windows_path.size(); i++)
        path += windows_path[i] == '\\' ? '/' : windows_path[i];
    return path;
}

bool test_machine_start_family(const char *family);

bool test_machine_start(void) {
    return test_machine_start_family("nt40");
}

bool test_machine_start_family(const char *family) {
    char folder[] = "/tmp/tarsk4-unit-XXXXXX";
    if (mkdtemp(folder) == NULL)
        return false;
    host_folder = folder;
    char error[256];
    std::string machine = host_folder + "/machine";
    if (!sim_machine_create(machine.c_str(), family, error, sizeof error) ||
        !sim_machine_load(machine.c_str(), error, sizeof error)) {
        fprintf(stderr, "test machine: %s\n", error);
        return false;
    }
    host_folder = machine;
    return test_make_folder(scratch);
}

void test_machine_stop(void) {
    sim_faults_clear();
    sim_machine_unload();
    if (!host_folder.empty()) {
        std::string command = "rm -rf '" + host_folder.substr(0, host_folder.rfind('/')) + "'";
        if (system(command.c_str()) != 0)
            fprintf(stderr, "test machine: cannot remove %s\n", host_folder.c_str());
    }
    host_folder.clear();
}

const std::string &test_folder(void) {
    return scratch;
}

bool test_make_folder(const std::string &path) {
    return mkdir(host_path(path).c_str(), 0755) == 0;
}
