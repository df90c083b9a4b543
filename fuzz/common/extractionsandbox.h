#pragma once

#include "router/configexport.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>

// A throw-away directory tree to extract configuration exports into, with traps around the
// target: a sentinel file and a directory beside it, and links inside it that lead inside,
// outside (relative and absolute), nowhere, to a file outside, and to themselves.
//
//     <temp>/a/target/           the chosen directory; sub/, in -> sub, self -> .,
//                                up -> ../outside, abs -> <temp>/a/outside, dangling -> ../nowhere,
//                                loop -> loop, sentinel -> ../sentinel
//     <temp>/a/sentinel          a file
//     <temp>/a/outside/keep      a file
//     <temp>/cwd/                the process's working directory while extracting
//
// check() extracts under the write guard and then asserts that nothing was attempted or
// changed outside the target, that the links are untouched, that every path refused by its
// text alone was refused, and that every file in the target holds one of the entries'
// contents. Any failure aborts through FUZZ_CHECK.
class ExtractionSandbox final
{
public:
    ExtractionSandbox();
    Q_DISABLE_COPY_MOVE(ExtractionSandbox)

    // Returns the refused paths, as the extractor gave them.
    QStringList check(const QList<ConfigExport::File> &files);

    // Set up once per process: the harness's LLVMFuzzerInitialize creates it.
    static ExtractionSandbox &instance();

private:
    void reset();
    QByteArray snapshotOutside() const;

    QTemporaryDir temporary;
    QString base;
    QString target;
    QByteArray outsideBefore;
};
