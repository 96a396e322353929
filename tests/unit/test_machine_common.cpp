#include "run/console_output.h"
#include "test_machine.h"

bool test_put_file(const std::string &path, const std::string &bytes) {
    FILE *file = fopen(path.c_str(), "wb");
    if (file == NULL)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

bool test_get_file(const std::string &path, std::string *bytes) {
    FILE *file = fopen(path.c_str(), "rb");
    if (file == NULL)
        return false;
    bytes->clear();
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes->append(chunk, got);
    bool ok = ferror(file) == 0;
    fclose(file);
    return ok;
}

bool test_file_exists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static FILE *capture_out;
static FILE *capture_err;

void capture_start(bool out_is_console) {
    capture_out = tmpfile();
    capture_err = tmpfile();
    console_output_redirect(capture_out, capture_err, out_is_console);
}

static std::string read_back(FILE *file) {
    std::string text;
    if (file == NULL)
        return text;
    fflush(file);
    long end = ftell(file);
    rewind(file);
    text.resize(end > 0 ? (size_t)end : 0);
    size_t got = fread(&text[0], 1, text.size(), file);
    text.resize(got);
    fseek(file, 0, SEEK_END);
    return text;
}

std::string captured_out(void) {
    return read_back(capture_out);
}

std::string captured_err(void) {
    return read_back(capture_err);
}

void capture_stop(void) {
    console_output_redirect(stdout, stderr, false);
    if (capture_out != NULL)
        fclose(capture_out);
    if (capture_err != NULL)
        fclose(capture_err);
    capture_out = capture_err = NULL;
}
