#include "carve/volume.h"

#include "base/ascii.h"
#include "base/system.h"

#include <tsk/libtsk.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string_view>

namespace quillmend {

namespace {

struct TImageClose {
  void operator()(TSK_IMG_INFO* image) const { tsk_img_close(image); }
};
struct TFsClose {
  void operator()(TSK_FS_INFO* fs) const { tsk_fs_close(fs); }
};
struct TFileClose {
  void operator()(TSK_FS_FILE* file) const { tsk_fs_file_close(file); }
};

std::string TskReason()
{
  std::string reason = tsk_error_get() ? tsk_error_get() : "unknown error";
  tsk_error_reset();
  return reason;
}

// A file's content through its file system, as a carve source: a live mailbox however scattered.
class TVolumeFile : public TCarveSource {
public:
  TVolumeFile(TSK_FS_FILE* file, std::filesystem::path name) : FFile(file), FName(std::move(name)) {}
  const std::filesystem::path& Path() const override { return FName; }
  std::int64_t Size() const override { return FFile->meta ? static_cast<std::int64_t>(FFile->meta->size) : 0; }
  std::string Kind() const override { return "file"; }
  std::size_t ReadAt(std::int64_t offset, char* buffer, std::size_t count) const override
  {
    count = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), Size() - offset));
    if (count == 0 || offset >= Size())
      return 0;
    const ssize_t got = tsk_fs_file_read(FFile, offset, buffer, count, TSK_FS_FILE_READ_FLAG_NONE);
    if (got < 0)
      throw TFileError(FileErrorMessage("Cannot read file", FName, TskReason()));
    return static_cast<std::size_t>(got);
  }

private:
  TSK_FS_FILE* FFile;
  std::filesystem::path FName;
};

// Names Eudora gives mailboxes and their backups: NAME.mbx, NAME.mbx.001.
bool MailboxName(std::string_view name)
{
  const std::size_t dot = name.find(".");
  if (dot == std::string_view::npos)
    return false;
  const std::string_view after = name.substr(dot);
  return after.size() >= 4 && EqualNoCase(after.substr(0, 4), ".mbx") &&
         (after.size() == 4 || after[4] == '.');
}

struct TCopy {
  std::int64_t Offset;
  std::size_t Message, Copy;
  bool operator<(const TCopy& other) const { return Offset < other.Offset; }
};

struct TWalk {
  TSK_FS_INFO* Fs = nullptr;
  const std::vector<TCopy>* Copies = nullptr;
  TCopyPlaces* Places = nullptr;
  std::vector<std::pair<std::string, TSK_INUM_T>> Mailboxes;  // to read through the file system
  TProgressObserver* Observer = nullptr;
  bool Cancelled = false;
};

TSK_WALK_RET_ENUM Visit(TSK_FS_FILE* file, const char* parent, void* data)
{
  auto& walk = *static_cast<TWalk*>(data);
  if (walk.Observer && walk.Observer->Cancelled()) {
    walk.Cancelled = true;
    return TSK_WALK_STOP;
  }
  if (!file->name || !file->meta || file->meta->type != TSK_FS_META_TYPE_REG ||
      !(file->name->flags & TSK_FS_NAME_FLAG_ALLOC))
    return TSK_WALK_CONT;
  std::string path(1, '/');
  path.append(parent ? parent : "").append(file->name->name);
  bool holds = false;
  const TSK_FS_ATTR* attr = tsk_fs_file_attr_get(file);
  if (attr && (attr->flags & TSK_FS_ATTR_NONRES)) {
    const auto blockSize = static_cast<std::int64_t>(walk.Fs->block_size);
    for (const TSK_FS_ATTR_RUN* run = attr->nrd.run; run; run = run->next) {
      if (run->len == 0 || (run->flags & (TSK_FS_ATTR_RUN_FLAG_FILLER | TSK_FS_ATTR_RUN_FLAG_SPARSE)))
        continue;
      // The file's bytes only: the slack of its last cluster is not its content.
      const std::int64_t inFile = static_cast<std::int64_t>(run->offset) * blockSize;
      const std::int64_t length =
          std::min(static_cast<std::int64_t>(run->len) * blockSize, static_cast<std::int64_t>(attr->size) - inFile);
      if (length <= 0)
        continue;
      const std::int64_t begin = static_cast<std::int64_t>(walk.Fs->offset) + static_cast<std::int64_t>(run->addr) * blockSize;
      const std::vector<TCopy>& copies = *walk.Copies;
      for (auto at = std::lower_bound(copies.begin(), copies.end(), TCopy{begin, 0, 0});
           at != copies.end() && at->Offset < begin + length; ++at) {
        walk.Places->Files[at->Message][at->Copy] = path;
        holds = true;
      }
    }
  }
  if (holds || MailboxName(file->name->name))
    walk.Mailboxes.emplace_back(path, file->meta->addr);
  return TSK_WALK_CONT;
}

}  // namespace

TCopyPlaces LocateCopies(const TCarveSource& source, const TCarveResult& carved, TProgressObserver* observer)
{
  TCopyPlaces places;
  places.Files.resize(carved.Messages.size());
  places.Lost.assign(carved.Messages.size(), false);
  std::vector<TCopy> copies;
  for (std::size_t m = 0; m < carved.Messages.size(); ++m) {
    places.Files[m].resize(carved.Messages[m].Copies.size());
    for (std::size_t c = 0; c < carved.Messages[m].Copies.size(); ++c)
      copies.push_back({carved.Messages[m].Copies[c], m, c});
  }
  std::sort(copies.begin(), copies.end());

  const std::string name = QuotedPath(source.Path());
  // Opened as the kind already known: no guessing among the other formats The Sleuth Kit reads.
  const TSK_IMG_TYPE_ENUM type = source.Kind() == kEwfKind ? TSK_IMG_TYPE_EWF_EWF : TSK_IMG_TYPE_RAW;
  const std::unique_ptr<TSK_IMG_INFO, TImageClose> image(tsk_img_open_utf8_sing(source.Path().string().c_str(), type, 0));
  if (!image) {
    places.Notice.append("no file system read on ").append(name).append(": ").append(TskReason());
    places.Notice.append("; where each message lies is unknown");
    return places;
  }
  // The volumes: each allocated partition of a partition table, or the whole source.
  std::vector<TSK_OFF_T> starts;
  if (TSK_VS_INFO* table = tsk_vs_open(image.get(), 0, TSK_VS_TYPE_DETECT)) {
    for (TSK_PNUM_T k = 0; k < table->part_count; ++k)
      if (const TSK_VS_PART_INFO* part = tsk_vs_part_get(table, k); part && (part->flags & TSK_VS_PART_FLAG_ALLOC))
        starts.push_back(static_cast<TSK_OFF_T>(part->start) * table->block_size);
    tsk_vs_close(table);
  }
  if (starts.empty())
    starts.push_back(0);
  tsk_error_reset();

  std::set<TSha256Digest> live;
  std::vector<std::string> read;
  for (const TSK_OFF_T start : starts) {
    const std::unique_ptr<TSK_FS_INFO, TFsClose> fs(tsk_fs_open_img(image.get(), start, TSK_FS_TYPE_DETECT));
    if (!fs) {
      tsk_error_reset();
      continue;
    }
    std::string kind = tsk_fs_type_toname(fs->ftype);
    if (start)
      kind.append(" at ").append(std::to_string(start));
    read.push_back(std::move(kind));
    TWalk walk;
    walk.Fs = fs.get();
    walk.Copies = &copies;
    walk.Places = &places;
    walk.Observer = observer;
    tsk_fs_dir_walk(fs.get(), fs->root_inum,
                    static_cast<TSK_FS_DIR_WALK_FLAG_ENUM>(TSK_FS_DIR_WALK_FLAG_ALLOC | TSK_FS_DIR_WALK_FLAG_RECURSE |
                                                           TSK_FS_DIR_WALK_FLAG_NOORPHAN),
                    Visit, &walk);
    tsk_error_reset();
    if (walk.Cancelled)
      throw TCancelled();
    // The live mailboxes read as files: what they hold is not lost.
    for (const auto& [path, inode] : walk.Mailboxes) {
      const std::unique_ptr<TSK_FS_FILE, TFileClose> file(tsk_fs_file_open_meta(fs.get(), nullptr, inode));
      if (!file)
        continue;
      const TVolumeFile content(file.get(), path);
      for (const TCarvedMessage& message : Carve(content, observer, 1).Messages)
        live.insert(message.Sha256);
    }
  }
  if (read.empty()) {
    places.Notice.append("no file system found on ").append(name);
    places.Notice.append(" that The Sleuth Kit reads; where each message lies is unknown");
    return places;
  }
  places.Known = true;
  for (const std::string& each : read)
    places.Notice += (places.Notice.empty() ? "" : ", ") + each;
  for (std::size_t m = 0; m < carved.Messages.size(); ++m)
    places.Lost[m] = !live.contains(carved.Messages[m].Sha256);
  return places;
}

}  // namespace quillmend
