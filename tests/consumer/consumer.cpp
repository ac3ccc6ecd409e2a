// A host linked against the installed module: converts a 4 x 3 image it writes itself.
#include <Quarnel.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::string src = std::string(argv[1]) + ".src.tga";
    unsigned char file[18 + 3 * 12] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 3, 0, 24, 0};
    for (int i = 18; i < static_cast<int>(sizeof file); ++i)
        file[i] = static_cast<unsigned char>(i * 37);
    std::FILE* f = std::fopen(src.c_str(), "wb");
    if (f == nullptr || std::fwrite(file, 1, sizeof file, f) != sizeof file || std::fclose(f) != 0)
        return 1;
    SCreateBumpMap job;
    std::memset(&job, 0, sizeof job);
    std::snprintf(job.srcpath, sizeof job.srcpath, "%s", src.c_str());
    std::snprintf(job.dstpath, sizeof job.dstpath, "%s", argv[1]);
    job.texelsize = 1.0f;
    CreateBumpMaps(&job, 1);
    return 0;
}
