// Arbitrary bytes as the body of the update server's answer: three lines or more make an
// offer whose texts are the first three lines, nothing of the line ends or what follows a NUL
// in them.
#include "fuzzcheck.h"

#include "update/updateaction.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<UpdateAction::Offer> offer = UpdateAction::parseAnswer(body);

    const qsizetype end = body.indexOf('\0');
    const QByteArray text = end < 0 ? body : body.left(end);
    FUZZ_CHECK(offer.has_value() == (text.count('\n') >= 2));
    if (!offer)
        return 0;
    for (const QString *field : {&offer->newVersion, &offer->linkText, &offer->linkUrl}) {
        FUZZ_CHECK(!field->contains(u'\n'));
        FUZZ_CHECK(!field->contains(QChar(0)));
    }
    const QByteArray lines = offer->newVersion.toLatin1() + '\n' + offer->linkText.toLatin1() + '\n'
                             + offer->linkUrl.toLatin1();
    FUZZ_CHECK(text.startsWith(lines));
    FUZZ_CHECK(text.size() == lines.size() || text.at(lines.size()) == '\n');
    return 0;
}
