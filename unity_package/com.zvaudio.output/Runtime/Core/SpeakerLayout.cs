namespace ZVAudio.Output
{
    // The engine's speaker modes, named as the engine names them, so that the
    // sizing logic needs no engine types.
    public enum SpeakerLayout
    {
        Unknown = 0,
        Mono,
        Stereo,
        Quad,
        Surround,
        Mode5point1,
        Mode7point1,
        Prologic
    }
}
