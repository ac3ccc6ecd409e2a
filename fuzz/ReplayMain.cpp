// Replays saved inputs through the fuzz target without libFuzzer, so any
// compiler builds it and the ordinary test suite runs the corpus: each argument
// is a file or a folder whose files are fed to LLVMFuzzerTestOneInput in turn.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "TestSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void Collect(const std::string& path, std::vector<std::string>& files)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        files.push_back(path);
        return;
    }
    for (const std::string& name : testsupport::FolderNames(path))
        if (name[0] != '.')
            Collect(path + "/" + name, files);
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i)
        Collect(argv[i], files);
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    for (const auto& file : files) {
        const testsupport::Bytes bytes = testsupport::ReadFile(file);
        // Named first, so a trap in the target says which input caused it.
        std::printf("%s\n", file.c_str());
        std::fflush(stdout);
        // An empty vector's data() may be null; the target is given a valid pointer.
        static const std::uint8_t none = 0;
        LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", files.size());
    return 0;
}
