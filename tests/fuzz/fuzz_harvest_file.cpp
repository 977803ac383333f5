// Any list of hrefs, harvested and saved: every kept item is safe, the file
// holds exactly one CR LF line per item, and each line reads back as its item;
// as JSON Lines, each line is one object giving back its texts, whatever they hold.
#include "cli/output.h"
#include "core/harvest.h"
#include "core/save_file.h"
#include "fuzz_input.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList anchors = fuzz::unitItems(data, size);
    const QStringList kept = harvest::keptAnchors(anchors, {});

    QStringList expected;
    for (const QString &href : anchors) {
        if (!href.isEmpty())
            expected.append(fuzz::referenceSafe(href));
    }
    FUZZ_CHECK(kept == expected);

    const QByteArray file = save_file::encodeLines(kept);
    // GB18030 uses bytes below 0x30 only for ASCII: these count lines.
    FUZZ_CHECK(file.count('\n') == kept.size());
    FUZZ_CHECK(file.count('\r') == kept.size());
    FUZZ_CHECK(!file.contains('\0'));
    QStringDecoder decoder("GB18030");
    const QString text = decoder.decode(file);
    FUZZ_CHECK(!decoder.hasError());
    FUZZ_CHECK(text == (kept.isEmpty() ? QString() : kept.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")));

    // The raw hrefs stand for what a user may give as an address.
    cli::PageOutcome outcome;
    outcome.page = anchors.value(0);
    outcome.url = anchors.value(1);
    outcome.links = anchors;
    const QList<QByteArray> lines = cli::formatted(outcome, cli::Format::Json).split('\n');
    FUZZ_CHECK(lines.size() == anchors.size() + 1 && lines.constLast().isEmpty());
    for (qsizetype i = 0; i < anchors.size(); ++i) {
        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(lines.at(i), &error).object();
        FUZZ_CHECK(error.error == QJsonParseError::NoError);
        FUZZ_CHECK(object.value(QLatin1String("href")).toString() == anchors.at(i));
        FUZZ_CHECK(object.value(QLatin1String("page")).toString() == outcome.page);
        FUZZ_CHECK(object.value(QLatin1String("index")).toInteger(-1) == i);
    }
    return 0;
}
