// A build without The Sleuth Kit (the Windows cross build): no file system is read.
#include "carve/volume.h"

namespace quillmend {

TCopyPlaces LocateCopies(const TCarveSource&, const TCarveResult& carved, TProgressObserver*)
{
  TCopyPlaces places;
  places.Notice = "this build reads no file systems (built without The Sleuth Kit): where each message lies is unknown";
  places.Files.resize(carved.Messages.size());
  places.Lost.resize(carved.Messages.size());
  return places;
}

}  // namespace quillmend
