// The carrier boards' comport links (IComportLink): reset of the first TIM
// site and the boot loader that takes an image from the link.
#pragma once

#include "QelBenchComport.h"

#include <memory>

namespace qel::bench {

class Core;

// A new link object over the bench, one reference, answering IComportLink.
HResult CreateComportLink(const std::shared_ptr<Core>& core, void** out);

}  // namespace qel::bench
