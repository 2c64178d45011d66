#pragma once
// One outgoing stream: the player's captured audio through the stream's DSP
// chain (channel converter, resampler) and the output gain into a float
// FIFO; on the stream's worker thread a formatter, the optional
// pre-processing program and the encoder program turn it into the encoded
// stream that its Server sends. The window owns one Stream per configured
// stream and hears of it through StreamEventListener.
//
// Threads: start and the settings setters on the player's main thread;
// stop there or on the stream's worker (while it handles event 5);
// reconnect on the worker, from its handling of event 5; onChunk on the
// capture thread; listClients and updateMetadata on the window's worker;
// addTitle on the thread of the play callbacks. The status and the title
// records may be read from any thread: they are handed out as copies.
#include <Poco/Exception.h>
#include <Poco/FIFOBuffer.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dsp_chunk_list.h"
#include "dsp_manager.h"
#include "engine/command_signal.h"
#include "engine/psc_callback.h"
#include "kestrune_io.h"
#include "plugin/settings.h"
#include "server/deadline.h"

// Thrown by Stream::listClients while the stream waits to reconnect: no
// request was made.
POCO_DECLARE_EXCEPTION(, StreamReconnecting, Poco::ApplicationException)
// Thrown by Stream::updateMetadata and Stream::listClients for a request
// that the stream's stop ended or turned away: no error of the request.
POCO_DECLARE_EXCEPTION(, StreamStopped, Poco::ApplicationException)

class ChildProcess;
class EncoderProcess;
class Formatter;
class Server;
class Stream;

class StreamEventListener {
public:
    enum : int {
        // The stream runs (after a start, or again after a reconnection).
        EVENT_STARTED = 0,
        // The stream has stopped and released its parts.
        EVENT_STOPPED = 1,
        // A reconnection attempt begins; reconnect_count holds the attempts
        // that failed so far.
        EVENT_RECONNECTING = 2,
        // One more second of audio was processed; the statistics are new.
        EVENT_STATISTICS = 4,
        // Something failed; error_text says what.
        EVENT_ERROR = 5,
    };
    // Called on the thread that raises the event.
    virtual void onStreamEvent(Stream* stream, int event) = 0;
    // Called by start on its thread before anything of the stream is
    // started: what it throws fails the start (event 5, with the stream
    // not running).
    virtual void checkStart(Stream* stream) { (void)stream; }

protected:
    ~StreamEventListener() = default;
};

// One title a stream played: the title first, then the artist.
struct TitleRecord {
    std::string title;
    std::string artist;
};

class Stream : public psc_listener {
public:
    // Worker commands.
    enum : int { COMMAND_DATA = 0, COMMAND_NEW_TITLE = 1, COMMAND_QUIT = 2 };

    Stream(StreamEventListener* observer, const EncoderSettings& encoder, const ServerSettings& server);
    // Ends whatever still runs (without events).
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Starts the programs, connects and logs in, builds the DSP chain,
    // starts the worker, registers with `capture` (may be null) and raises
    // event 0. Failures become event 5; nothing is thrown.
    void start(psc_callback* capture);
    // Ends the worker, releases every part and raises event 1. Any thread;
    // a stream that does not run only raises the event. Ends reconnection
    // waits at once. A stop made while another stop waits for the worker
    // (served by that wait on the main thread, or the worker's own) returns
    // at once: the waiting one releases the parts and raises the event.
    // The rest of the stream (the last partial piece, the programs' tail)
    // goes out within about a second, the send in progress included: a
    // server that stopped reading holds a stop no longer.
    void stop();
    // Asks the stream to stop without waiting for it: from now on it
    // starts no program, its waits and exchanges end and the rest of the
    // stream has the stop's grace. stop() follows; a quit asks every
    // stream before it stops any, so that none goes on meanwhile.
    void askStop();
    // From the worker's handling of event 5: closes the broken connection,
    // then reconnects the server and starts a new worker, up to three
    // attempts ten seconds apart (event 2 before each, event 0 after a
    // success). Programs that ended or failed are started again, and Ogg
    // streams always restart theirs, so the new connection begins with the
    // stream's headers and the latest title; other formats then send the
    // latest title again (one taken during the wait included). A
    // reconnection counts as a success only once the stream has carried
    // ten seconds of audio again: a stream that fails before counts the
    // attempt as failed and goes on with the next. After three failures in
    // a row reconnect_count is 3, error_text holds the last failure and a
    // console line says why the stream is given up. A stop ends the
    // reconnection: the login it cut short is no failed attempt, and
    // error_text keeps the fault that began the reconnection. Returns the
    // title it sent again, for the front end's line; none when it sent
    // none.
    std::optional<std::string> reconnect();

    StreamStatus status() const;
    ServerSettings serverSettings() const;
    EncoderSettings encoderSettings() const;
    // Take effect at the next start.
    void setServerSettings(const ServerSettings& settings);
    void setEncoderSettings(const EncoderSettings& settings);
    void setAdminCredentials(const std::string& user, const std::string& password);

    std::vector<TitleRecord> titleRecords() const;
    void addTitle(const std::string& artist, const std::string& title);
    // Ogg formats: asks the worker to restart the programs with the last
    // title record (a busy worker does so after its current command).
    // Other formats: sends the title to the server. True then. While the
    // stream waits to reconnect (or its worker has just failed) nothing
    // goes out: the title is kept, the reconnection starts with it, and
    // the answer is false. A stream that is stopped, stopping or has given
    // up reconnecting throws: the title goes nowhere (StreamStopped when
    // the stream's stop ended or turned it away).
    bool updateMetadata(const std::string& title);
    // The server's listener list (XML), asked with the status's admin
    // credentials. Failures are thrown as Poco::Exception, each with its
    // own class and text; StreamReconnecting, asking nothing, while the
    // stream waits to reconnect; StreamStopped for a request that the
    // stream's stop ended or turned away.
    std::string listClients();
    // True once per reconnection wait, to the first caller whose title was
    // kept or whose listener request was turned away by it: the front
    // end's one console line that says the stream is reconnecting.
    bool reconnectionNoticeDue() { return !wait_noticed_.exchange(true); }

    // On the capture thread, with the capture callback's lock held.
    void onChunk(const audio_chunk& chunk) override;
    // The seconds of audio waiting in the input FIFO for the worker (0
    // while the stream does not run). When some wait, the worker is asked
    // for them once more, since the capture path does not repeat a refused
    // post. Any thread; for holding back a player that plays faster than
    // real time.
    double inputBacklog();

    // The time between reconnection attempts (ten seconds); for tests.
    void setReconnectWait(std::chrono::milliseconds wait) { reconnect_wait_ = wait; }
    // The seconds of audio a reconnected stream carries before its attempts
    // count anew (ten; 0 counts every login as a success); for tests.
    void setSettleSeconds(unsigned seconds) { settle_seconds_ = seconds; }
    // Called on the thread of a title or listener request, with no lock
    // held, right after the request looked and found the stream waiting to
    // reconnect; for tests that let the reconnection end at that moment.
    void setReconnectionSeenHook(std::function<void()> hook) { reconnection_seen_ = std::move(hook); }

private:
    // A worker thread and whether its body has returned.
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    struct Connection;

    void run(std::shared_ptr<std::atomic<bool>> done);
    void commandLoop();
    // Takes everything the input FIFO holds through the programs to the
    // server.
    void processData();
    // The rest of a data command once `n` floats went to the programs:
    // sends the output and keeps the statistics.
    void finishData(std::size_t n);
    // At a stop: the last partial piece and what the programs still hold
    // go to the server.
    void finishStream();
    // Bytes waiting in the input FIFO.
    std::size_t inputWaiting();
    // Puts `count` captured samples into the input FIFO at `gain`.
    void writeInput(const float* samples, std::size_t count, float gain);
    // Hands the output FIFO to the server; the bytes it sent.
    int send();
    void newTitle();
    // A stop asked meanwhile leaves the programs ended, not started again.
    void restartPrograms(const std::string& artist, const std::string& title);
    // Ends the programs' input and takes the rest of their output, waiting
    // at most `tail_time` ms for it.
    void finishPrograms(DWORD tail_time);
    void startPreprocessor();
    bool attemptReconnection();
    // The programs of a reconnection: ended with what they held, started
    // again as at start.
    bool programsRunning();
    void closePrograms();
    // False, starting nothing, once a stop is asked.
    bool openPrograms(const std::string& artist, const std::string& title);
    // Sets quit_asked_ for a stop or the destruction, under programs_gate_.
    void askQuit();
    // A stop's asking part (control_ held).
    void askStopLocked();
    // A stop or the destruction has asked the stream to end.
    bool stopAsked();
    // Sends the last title again (formats other than Ogg); the title it
    // sent.
    std::optional<std::string> resendTitle();
    // A request on `link` met the stream's stop: it is asked, or the
    // connection was given up.
    bool stopReached(const std::shared_ptr<Connection>& link) const;
    // Where a title or listener request made now would go: to the server,
    // to the reconnection (the stream waits for one, or its worker has
    // failed and the front end is about to decide), or nowhere.
    enum class Reach { SERVER, RECONNECTION, NOWHERE };
    Reach reach(const std::shared_ptr<Connection>& link) const;
    // Ends the server exchanges in progress (titles, listener lists, a
    // reconnection's login) and refuses later ones.
    void cancelExchanges();
    // Gives the audio's sends, the one in progress included, the stop's
    // grace at most, and the programs' waits that grace less the part
    // kept for the last send.
    void limitSends();
    // Joins retired workers that have ended; never waits for the lock.
    void reapEndedWorkers();

    // control_ held.
    void startWorkerLocked();
    void joinRetiredLocked(std::unique_lock<std::mutex>& lock);
    void releasePartsLocked();
    static void joinWorker(Worker& worker);

    std::shared_ptr<Connection> connection() const;
    void fail(const std::string& text);
    void raise(int event);
    void raiseQuietly(int event);
    std::string name() const;

    StreamEventListener* const observer_;

    // Settings given by the window, and the copy the running stream uses.
    mutable std::mutex settings_mutex_;
    EncoderSettings encoder_settings_;
    ServerSettings server_settings_;
    EncoderSettings run_;

    mutable std::mutex status_mutex_;
    StreamStatus status_;
    std::string format_error_;
    std::atomic<bool> format_failed_{false};

    mutable std::mutex titles_mutex_;
    std::vector<TitleRecord> titles_;
    // The title last handed to the server (formats other than Ogg), sent
    // again after a reconnection; titles go out one at a time.
    std::string sent_title_;
    bool has_sent_title_ = false;
    std::mutex title_send_mutex_;

    // Worker handles, cancellation of reconnection waits, and the parts
    // while they are made or released.
    std::mutex control_;
    std::condition_variable cancel_cv_;
    bool cancel_ = false;
    Worker worker_;
    // Workers that ended themselves (stop or reconnect on the worker);
    // joined at the next start, a stop from another thread, or destruction.
    std::vector<Worker> retired_;
    std::atomic<std::size_t> retired_count_{0};
    std::uint64_t stops_ = 0;
    // A stop is waiting for the worker to end.
    bool stopping_ = false;
    // Where a stop or the destruction ends the waits for the programs
    // (brought closer by limitSends); it outlives the programs.
    Cutoff programs_cutoff_;
    std::atomic<bool> loop_active_{false};
    std::atomic<bool> deferred_stop_{false};
    std::atomic<bool> title_pending_{false};
    // Set by the destructor: the worker ends without sending the rest, and
    // no event is raised any more.
    std::atomic<bool> ending_quietly_{false};
    // Set by a stop or the destructor before they post the quit command.
    std::atomic<bool> quit_asked_{false};
    // Held while the worker starts programs, and by a stop while it sets
    // quit_asked_; under it only the programs start (reading the settings
    // for the stream's name).
    std::mutex programs_gate_;
    std::chrono::milliseconds reconnect_wait_{10000};
    std::atomic<unsigned> settle_seconds_{10};
    std::function<void()> reconnection_seen_;
    // A reconnection succeeded, and the stream has not yet carried audio
    // long enough to count it as a success.
    std::atomic<bool> unproven_{false};
    // The worker failed in the programs (ended, hung or a pipe failed).
    std::atomic<bool> programs_failed_{false};
    // The last reconnection gave up; the stream waits for its stop.
    std::atomic<bool> given_up_{false};
    // The console line of this reconnection wait has been given.
    std::atomic<bool> wait_noticed_{false};

    CommandSignal signal_;

    // Capture path.
    dsp_chunk_list_impl chunk_list_;
    dsp_manager dsp_;
    // The DSPs were given audio in another format since the start and may
    // hold some of it back; until they hand it over, every chunk goes
    // through them.
    bool dsp_holds_audio_ = false;
    // The captured samples with the output gain applied.
    std::vector<float> scaled_;
    kestrune_io::abort_callback_impl abort_;
    psc_callback* capture_ = nullptr;
    std::uint32_t capture_rate_ = 0;
    std::uint32_t capture_channels_ = 0;
    // Input FIFO bytes of one piece, the audio of one round.
    std::size_t piece_bytes_ = 0;
    // When the worker's next round is due.
    std::chrono::steady_clock::time_point next_round_;
    // Size of the programs' input and output pipes.
    DWORD pipe_size_ = 0;

    Poco::BasicFIFOBuffer<char> input_fifo_;
    Poco::BasicFIFOBuffer<char> encoder_input_fifo_;
    Poco::BasicFIFOBuffer<char> output_fifo_;
    std::vector<std::uint8_t> wav_header_;

    // Parts of a running stream.
    std::unique_ptr<ChildProcess> preprocessor_;
    std::unique_ptr<Formatter> formatter_;
    std::unique_ptr<EncoderProcess> encoder_;
    std::shared_ptr<Connection> connection_;
    mutable std::mutex connection_mutex_;
    // What the encoder was last opened with.
    std::string encoder_artist_;
    std::string encoder_title_;

    // The worker's buffers, kept from command to command.
    std::vector<float> floats_;
    std::vector<std::uint8_t> pcm_;
    std::vector<char> preprocessor_input_;
};
