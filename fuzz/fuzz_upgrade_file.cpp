// A downloaded package, read from memory the way both upgrade steps read it:
// header, magic, key, payload framing and MD5.

#include "FuzzCheck.h"

#include "common/Exceptions.h"
#include "common/StrUtils.h"
#include "package/BinFile.h"
#include "package/UpgradeFile.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer stream(&bytes);
    stream.open(QIODevice::ReadWrite);
    stream.seek(stream.size() / 2);

    try {
        const TUpgradeFile reader(stream);
        FUZZ_CHECK(stream.pos() == stream.size());
        // The texts are read whatever the outcome; a field never runs past its width.
        FUZZ_CHECK(reader.mode().size() <= 16 && reader.version().size() <= 16
                   && reader.partName().size() <= 16);
        FUZZ_CHECK(reader.md5().size() <= 32 && reader.crDate().size() <= 32);
        if (reader.valid()) {
            QByteArray image = reader.image();
            QBuffer check(&image);
            check.open(QIODevice::ReadOnly);
            FUZZ_CHECK(sameText(TBinFile::md5Stream(check), reader.md5()));
            // The image came out of the payload after the 256-byte header.
            FUZZ_CHECK(image.size() <= bytes.size() - 256);
        } else {
            FUZZ_CHECK(reader.image().isEmpty());
        }
    } catch (const Exception &) {
        // A short header or an unframed payload: the tool's own errors,
        // shown to the user by the window.
    }
    return 0;
}
