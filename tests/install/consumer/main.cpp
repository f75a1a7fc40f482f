// A program built against an installed libzelvanfp, outside the project: it reads a WSQ print,
// asks the codec for its size, creates a finger template from it and checks the template.
// Usage: consumer <file.wsq> <finger position>. Prints one line and exits 0 when all went well.

#include <zelvanfp/WsqCodec.h>
#include <zelvanfp/ZelvanFinger.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: consumer <file.wsq> <finger position>\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::vector<unsigned char> wsq((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
    if (wsq.empty()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    const int size = static_cast<int>(wsq.size());

    // 1. The codec's size query (the guard is the stream's guard sum).
    unsigned guard = 0;
    for (int i = 0; i < size; i += 10) {
        guard += wsq[i] + 2u * static_cast<unsigned>(i);
    }
    void* codec = init_instance();
    int width = 0;
    int height = 0;
    const int query =
        wsq_decode(codec, nullptr, wsq.data(), size, &width, &height, static_cast<int>(guard));
    cancel_instance(codec);
    if (query != WSQ_SIZE_QUERY) {
        std::fprintf(stderr, "size query gave %d\n", query);
        return 1;
    }

    // 2. A template from the stream, fetched into a buffer of the size delivered.
    ZelvanFinger::TemplateCreator* creator = ZelvanFinger::TemplateCreator::create();
    if (creator == nullptr) {
        return 1;
    }
    ZelvanFinger::WsqImage image{std::atoi(argv[2]), size, wsq.data()};
    unsigned length = 0;
    unsigned char quality = 0;
    const int created = creator->createTemplate(image, length, quality);
    std::vector<unsigned char> tpl(length);
    if (created == ZelvanFinger::RESULT_OK) {
        creator->getTemplate(tpl.data());
    }
    ZelvanFinger::TemplateCreator::cancel(creator);
    if (created != ZelvanFinger::RESULT_OK) {
        std::fprintf(stderr, "createTemplate gave %d\n", created);
        return 1;
    }

    // 3. The checker accepts it.
    ZelvanFinger::FpTemplateChecker* checker = ZelvanFinger::FpTemplateChecker::create();
    const bool valid = checker != nullptr && checker->check(tpl.data());
    ZelvanFinger::FpTemplateChecker::cancel(checker);
    std::printf("libzelvanfp %s: %d x %d print, template of %u bytes, quality %u, check %s\n",
                ZelvanFinger::getVersion(), width, height, length, static_cast<unsigned>(quality),
                valid ? "passed" : "failed");
    return valid ? 0 : 1;
}
