#include "app/output_file.h"

#include "app/signal_cleanup.h"

OutputFile::OutputFile(std::string path)
    : file_(std::move(path), TemporaryFileWatch{ListTemporaryFile, UnlistTemporaryFile}),
      buffer_(std::make_unique<FdStreamBuffer>(file_.descriptor()))
{
    // The buffer writes into the descriptor and never closes it: the file does, at
    // its commit or its end.
    stream_.rdbuf(buffer_.get());
}

OutputFile::~OutputFile()
{
    if (file_.temporary().empty()) stream_.flush();
}

void OutputFile::CheckWrites() const
{
    if (!stream_.good()) file_.Fail(WriteFailure(stream_));
}

void OutputFile::Commit()
{
    stream_.flush();
    CheckWrites();
    file_.Commit();
}
