// The job object: loading, opening and saving its file.
#include "model/job.h"

namespace {

// Keeps message boxes back until the caller has released its locks.
class CDeferredMessages : public IMessagePort {
public:
    void MessageBox(const std::string& text) override { texts.push_back(text); }
    void ShowOn(IMessagePort& port) const {
        for (const auto& text : texts) {
            port.MessageBox(text);
        }
    }

private:
    std::vector<std::string> texts;
};

} // namespace

JobLoad CJob::Outcome(bool read, const std::string& jobPath, const TaskList& loaded) const {
    if (read) {
        return JobLoad::Read;
    }
    FileStatus st;
    const FsError error = files.Status(jobPath, true, st);
    if (error.Is(ErrorKind::NotFound) || error.Is(ErrorKind::NotADirectory)) {
        return JobLoad::Missing;
    }
    return loaded.empty() ? JobLoad::Failed : JobLoad::Partial;
}

JobLoad CJob::Load(const std::string& jobPath, IMessagePort& messages) {
    std::string loadedPath = Path();
    JobForm loadedForm;
    const bool read = ::LoadJob(jobPath, tasks, loadedPath, messages, files, &loadedForm);
    form = std::move(loadedForm);
    SetPath(loadedPath);
    const JobLoad outcome = Outcome(read, jobPath, tasks);
    readInPart = outcome == JobLoad::Partial || outcome == JobLoad::Failed;
    return outcome;
}

JobLoad CJob::Open(const std::string& jobPath, IMessagePort& messages) {
    TaskList loaded;
    JobForm loadedForm;
    std::string loadedPath = Path();
    const JobLoad outcome =
        Outcome(::LoadJob(jobPath, loaded, loadedPath, messages, files, &loadedForm), jobPath, loaded);
    if (outcome != JobLoad::Read) {
        return outcome;
    }
    {
        std::lock_guard lock(lastRun);
        tasks = std::move(loaded);
    }
    form = std::move(loadedForm);
    SetPath(loadedPath);
    readInPart = false;
    return outcome;
}

bool CJob::Save(const std::string& jobPath, IMessagePort& messages) {
    CDeferredMessages deferred;
    bool saved = false;
    std::string savedPath = Path();
    {
        std::lock_guard lock(lastRun);
        saved = ::SaveJob(jobPath, tasks, savedPath, deferred, files, &form);
    }
    SetPath(savedPath);
    deferred.ShowOn(messages);
    if (saved) {
        readInPart = false;
    }
    return saved;
}

bool CJob::SaveInPlace(IMessagePort& messages) {
    const std::string own = Path();
    if (readInPart) {
        messages.MessageBox("Not saving " + own +
                            "\n\nThe job file could not be read completely; saving it now would lose the tasks "
                            "that were not read.");
        return false;
    }
    return Save(own, messages);
}

void CJob::Clear() {
    std::lock_guard lock(lastRun);
    tasks.clear();
    form = JobForm();
}
