#include "bridge/wire.h"

#include <snappy.h>

#include "tools/options.h"

namespace bridge {

void set_labels(wire::TimeSeries& series, const std::vector<Label>& labels) {
    for (const Label& label : labels) {
        wire::Label* added = series.add_labels();
        added->set_name(label.name);
        added->set_value(label.value);
    }
}

std::string compressed(const google::protobuf::MessageLite& message) {
    const std::string bytes = message.SerializeAsString();
    std::string body;
    snappy::Compress(bytes.data(), bytes.size(), &body);
    return body;
}

void read_compressed(std::string_view body, size_t max_uncompressed,
                     google::protobuf::MessageLite& message) {
    size_t length = 0;
    if (!snappy::GetUncompressedLength(body.data(), body.size(), &length) ||
        !snappy::IsValidCompressedBuffer(body.data(), body.size())) {
        throw tools::EBadInput("the body is not snappy block-compressed");
    }
    if (length > max_uncompressed) {
        throw tools::EBadInput("the body holds " + std::to_string(length) +
                               " bytes uncompressed, more than " +
                               std::to_string(max_uncompressed));
    }
    std::string bytes;
    snappy::Uncompress(body.data(), body.size(), &bytes);
    if (!message.ParseFromString(bytes)) {
        throw tools::EBadInput("the body is not a protobuf " + message.GetTypeName());
    }
}

}  // namespace bridge
