namespace ZVAudio.Output
{
    // Where ForwarderController says what happened: the engine's Console in the
    // component, a list in the tests.
    public interface IForwarderLog
    {
        void Info(string message);
        void Warning(string message);
        void Error(string message);
    }
}
