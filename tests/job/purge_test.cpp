// Queue purge against an in-memory print queue bound through g_spooler.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job/purge.h"

namespace {

HANDLE const kPrinterHandle = reinterpret_cast<HANDLE>(0x5150);

// The queue the fake spooler shows; `later` (when set) is what every
// enumeration after the size query sees.
struct FakeSpooler {
    std::vector<JOB_INFO_1W> jobs;
    std::vector<JOB_INFO_1W> later;
    bool useLater = false;
    bool openFails = false;
    std::wstring openedName;
    DWORD openedAccess = 0;
    int opens = 0;
    int sizeQueries = 0;
    int enumerations = 0;
    std::vector<DWORD> requestedCounts;
    std::vector<DWORD> deleted;
    std::vector<HANDLE> closed;
    int otherCalls = 0;  // calls with a wrong handle, level or command
};

FakeSpooler* g_fake = nullptr;

BOOL WINAPI FakeOpen(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults)
{
    ++g_fake->opens;
    g_fake->openedName = name;
    g_fake->openedAccess = defaults ? defaults->DesiredAccess : 0;
    if (g_fake->openFails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    *printer = kPrinterHandle;
    return TRUE;
}

BOOL WINAPI FakeEnum(HANDLE printer, DWORD firstJob, DWORD jobCount, DWORD level, LPBYTE buffer, DWORD size,
                     LPDWORD needed, LPDWORD returned)
{
    if (printer != kPrinterHandle || firstJob != 0 || level != 1)
        ++g_fake->otherCalls;
    g_fake->requestedCounts.push_back(jobCount);
    const std::vector<JOB_INFO_1W>& queue = buffer == nullptr || !g_fake->useLater ? g_fake->jobs : g_fake->later;
    size_t count = queue.size() < jobCount ? queue.size() : jobCount;
    DWORD bytes = static_cast<DWORD>(count * sizeof(JOB_INFO_1W));
    *needed = bytes;
    *returned = 0;
    if (buffer == nullptr) {
        ++g_fake->sizeQueries;
        if (bytes == 0)
            return TRUE;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    ++g_fake->enumerations;
    if (size < bytes) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(buffer, queue.data(), bytes);
    *returned = static_cast<DWORD>(count);
    return TRUE;
}

BOOL WINAPI FakeSetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command)
{
    if (printer != kPrinterHandle || level != 0 || job != nullptr || command != JOB_CONTROL_DELETE)
        ++g_fake->otherCalls;
    g_fake->deleted.push_back(jobId);
    return TRUE;
}

BOOL WINAPI FakeClose(HANDLE printer)
{
    g_fake->closed.push_back(printer);
    return TRUE;
}

JOB_INFO_1W Job(DWORD id, DWORD status)
{
    JOB_INFO_1W job = {};
    job.JobId = id;
    job.Status = status;
    return job;
}

class PurgeTest : public testing::Test {
protected:
    void SetUp() override
    {
        saved_ = g_spooler;
        g_spooler = {FakeOpen, FakeEnum, FakeSetJob, FakeClose};
        g_fake = &fake_;
    }
    void TearDown() override
    {
        g_spooler = saved_;
        g_fake = nullptr;
    }
    void ExpectOpenedAndClosedOnce()
    {
        EXPECT_EQ(1, fake_.opens);
        EXPECT_EQ(L"Orsanto", fake_.openedName);
        EXPECT_EQ(static_cast<DWORD>(PRINTER_ACCESS_ADMINISTER), fake_.openedAccess);
        EXPECT_EQ(std::vector<HANDLE>{kPrinterHandle}, fake_.closed);
        EXPECT_EQ(0, fake_.otherCalls);
    }
    FakeSpooler fake_;
    SpoolerApi saved_;
};

TEST_F(PurgeTest, EmptyQueueIsOnlyMeasured)
{
    PurgePrintedJobs();
    ExpectOpenedAndClosedOnce();
    EXPECT_EQ(1, fake_.sizeQueries);
    EXPECT_EQ(0, fake_.enumerations);
    EXPECT_TRUE(fake_.deleted.empty());
}

TEST_F(PurgeTest, DeletesExactlyThePrintedJobs)
{
    fake_.jobs = {Job(11, JOB_STATUS_PRINTED),
                  Job(12, JOB_STATUS_SPOOLING),
                  Job(13, JOB_STATUS_PRINTED | JOB_STATUS_DELETING),
                  Job(14, JOB_STATUS_PAUSED),
                  Job(15, JOB_STATUS_ERROR),
                  Job(16, 0),
                  Job(17, JOB_STATUS_PRINTED | JOB_STATUS_ERROR)};
    PurgePrintedJobs();
    ExpectOpenedAndClosedOnce();
    EXPECT_EQ(1, fake_.sizeQueries);
    EXPECT_EQ(1, fake_.enumerations);
    EXPECT_EQ((std::vector<DWORD>{11, 13, 17}), fake_.deleted);
}

TEST_F(PurgeTest, ExaminesOnlyTheFirst256Jobs)
{
    for (DWORD id = 1; id <= 300; ++id)
        fake_.jobs.push_back(Job(id, JOB_STATUS_PRINTED));
    PurgePrintedJobs();
    ExpectOpenedAndClosedOnce();
    for (DWORD count : fake_.requestedCounts)
        EXPECT_EQ(256u, count);
    ASSERT_EQ(256u, fake_.deleted.size());
    EXPECT_EQ(1u, fake_.deleted.front());
    EXPECT_EQ(256u, fake_.deleted.back());
}

TEST_F(PurgeTest, FailedOpenCallsNothingElse)
{
    fake_.openFails = true;
    fake_.jobs = {Job(1, JOB_STATUS_PRINTED)};
    PurgePrintedJobs();
    EXPECT_EQ(1, fake_.opens);
    EXPECT_TRUE(fake_.requestedCounts.empty());
    EXPECT_TRUE(fake_.deleted.empty());
    EXPECT_TRUE(fake_.closed.empty());
}

TEST_F(PurgeTest, SecondEnumerationDecides)
{
    // Job 2 becomes printed and job 1 is no longer reported printed between
    // the size query and the enumeration.
    fake_.jobs = {Job(1, JOB_STATUS_PRINTED), Job(2, JOB_STATUS_PRINTING)};
    fake_.later = {Job(1, JOB_STATUS_SPOOLING), Job(2, JOB_STATUS_PRINTED)};
    fake_.useLater = true;
    PurgePrintedJobs();
    ExpectOpenedAndClosedOnce();
    EXPECT_EQ(std::vector<DWORD>{2}, fake_.deleted);
}

TEST_F(PurgeTest, QueueThatGrewMeanwhileIsLeftForTheNextPassAndPrinterClosed)
{
    fake_.jobs = {Job(1, JOB_STATUS_PRINTED)};
    fake_.later = {Job(1, JOB_STATUS_PRINTED), Job(2, JOB_STATUS_PRINTED), Job(3, JOB_STATUS_PRINTED)};
    fake_.useLater = true;
    PurgePrintedJobs();
    ExpectOpenedAndClosedOnce();
    EXPECT_TRUE(fake_.deleted.empty());
}

TEST_F(PurgeTest, QueueEmptiedMeanwhileDeletesNothing)
{
    fake_.jobs = {Job(1, JOB_STATUS_PRINTED), Job(2, JOB_STATUS_PRINTED)};
    fake_.useLater = true;  // later is empty
    PurgePrintedJobs();
    ExpectOpenedAndClosedOnce();
    EXPECT_TRUE(fake_.deleted.empty());
}

}  // namespace

// The agent binds the real spooler once its events exist; before that, and
// when the library is missing, the purge does nothing.
TEST(SpoolerBinding, PurgeWithoutABoundSpoolerDoesNothing)
{
    SpoolerApi saved = g_spooler;
    g_spooler = {};
    PurgePrintedJobs();
    g_spooler = saved;
}

TEST(SpoolerBinding, BindsTheFourWinspoolCalls)
{
    SpoolerApi saved = g_spooler;
    g_spooler = {};
    ASSERT_TRUE(BindSpooler());
    EXPECT_NE(nullptr, g_spooler.openPrinter);
    EXPECT_NE(nullptr, g_spooler.enumJobs);
    EXPECT_NE(nullptr, g_spooler.setJob);
    EXPECT_NE(nullptr, g_spooler.closePrinter);
    // This machine has no "Orsanto" queue: the real open fails and the purge
    // ends silently.
    PurgePrintedJobs();
    g_spooler = saved;
}
