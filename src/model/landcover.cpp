#include "landcover.h"

namespace landcover {

Quotas elevationQuotas(std::uint64_t land) {
    Quotas q;
    // Integer arithmetic on the shares (both whole percents) keeps the
    // counts the same on every machine.
    const std::uint64_t landPart = static_cast<std::uint64_t>(100 - kDefaultWater);
    q.mountains = (land * static_cast<std::uint64_t>(kDefaultMountains) + landPart / 2) / landPart;
    q.rough = (land * static_cast<std::uint64_t>(kDefaultRough) + landPart / 2) / landPart;
    return q;
}

TopPick::TopPick(const std::vector<std::uint64_t>& histogram, std::uint64_t count) {
    if (count == 0) return;
    std::uint64_t above = 0;
    for (int key = static_cast<int>(histogram.size()) - 1; key >= 0; --key) {
        const std::uint64_t here = histogram[static_cast<std::size_t>(key)];
        if (above + here >= count) {
            threshold_ = key;
            ties_ = count - above;
            return;
        }
        above += here;
    }
    // Fewer keys than asked: all of them.
    threshold_ = 0;
    ties_ = histogram.empty() ? 0 : histogram[0];
}

}  // namespace landcover
