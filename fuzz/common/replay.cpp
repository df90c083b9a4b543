// Runs every file named on the command line, or found in a directory named there, through the
// harness once, in name order, as libFuzzer would run it as one input. Without libFuzzer this
// is the regression test of a target's corpus.
#include "fuzzcheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

namespace {

QStringList inputFiles(const QString &argument)
{
    const QFileInfo info(argument);
    if (!info.isDir())
        return {argument};
    QStringList files;
    const QFileInfoList entries = QDir(argument).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QFileInfo &entry : entries)
        files.append(entry.filePath());
    return files;
}

} // namespace

// A harness that needs no set-up does not define it.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const QStringList files = inputFiles(QFile::decodeName(argv[i]));
        if (files.isEmpty()) {
            std::fprintf(stderr, "no inputs in %s\n", argv[i]);
            return 1;
        }
        for (const QString &fileName : files) {
            QFile file(fileName);
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(fileName));
                return 1;
            }
            const QByteArray input = file.readAll();
            std::printf("%s (%lld bytes)\n", qPrintable(fileName), static_cast<long long>(input.size()));
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size()));
            ++count;
        }
    }
    std::printf("%d inputs replayed\n", count);
    return count > 0 ? 0 : 1;
}
