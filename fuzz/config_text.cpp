// Reading "config.txt": any bytes give a usable store, and what was read survives a save.
#include <cstddef>
#include <cstdint>

#include "config/ChannelStore.h"
#include "fuzz/FuzzCheck.h"

using namespace merival;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ChannelConfigRead read = ReadChannelConfigText(bytes, ChannelRecords{});

    bool quoteFree = true;
    for (const ChannelRecord& r : read.records) {
        // The cycle dispatches on the type index: nothing outside the list may get through.
        FUZZ_CHECK(r.TypeIndex >= -1 && r.TypeIndex < kInstrumentTypeCount,
                   "type index outside -1..15");
        FUZZ_CHECK(!(r.BaseBlock && r.ExtBlock), "both blocks chosen");
        quoteFree = quoteFree && !r.Address.contains(u'"') && !r.Tag.contains(u'"');
    }

    // The file format cannot hold a quote inside a text; everything else comes back as saved.
    if (quoteFree) {
        const ChannelConfigRead again =
            ReadChannelConfigText(WriteChannelConfigText(read.records), ChannelRecords{});
        FUZZ_CHECK(again.records == read.records, "save and load changed the store");
        FUZZ_CHECK(again.problem.isEmpty(), "a saved file reads with a problem");
    }
    return 0;
}
