#include "support/examples.h"

#include "support/fda_builder.h"

namespace examples {

std::vector<Sample> samples()
{
    std::vector<Sample> out;

    // Stereo at 44.1 kHz with named chunks and exporter texts.
    fixture::FdaFields music = fixture::rich_fields(4096);
    music.info = fixture::Info{2, 16, 512, 44100, 0, 15, 0};
    out.push_back({"music.fda", fixture::fda_bytes(music)});

    // Mono speech at 22.05 kHz, no names or texts, an odd payload.
    fixture::FdaFields voice;
    voice.info = fixture::Info{1, 16, 256, 22050, 100, 900, 0};
    voice.payload = fixture::pattern_bytes(1001, 2);
    out.push_back({"voice.fda", fixture::fda_bytes(voice)});

    // Stereo at 48 kHz with large blocks.
    fixture::FdaFields effect = fixture::rich_fields(2048);
    effect.info = fixture::Info{2, 16, 1024, 48000, 0, 0, 0};
    out.push_back({"effect.fda", fixture::fda_bytes(effect)});

    // Damaged: the payload ends early.
    fixture::FdaFields cut = fixture::rich_fields(512);
    cut.cut = fixture::payload_offset(cut) + 100;
    out.push_back({"broken_cut.fda", fixture::fda_bytes(cut)});

    // Damaged: DATA stands where INFO belongs.
    fixture::FdaFields no_info = fixture::rich_fields(64);
    no_info.ids[2] = "DATA";
    out.push_back({"broken_noinfo.fda", fixture::fda_bytes(no_info)});

    // Not a Relic Chunky file at all.
    out.push_back({"not_chunky.fda", std::string("RIFF\x24\0\0\0WAVEfmt ", 16) + std::string(28, '\0')});

    return out;
}

} // namespace examples
