// A compile-time stand-in for the part of the engine's scripting API that the
// package uses, with the engine's names and signatures, so that CI compiles
// the component and the sample. Nothing here runs.
using System;

#pragma warning disable 67 // events never raised

namespace UnityEngine
{
    public class Object
    {
        public string name { get; set; }
        public static void Destroy(Object obj) { throw Component.Stub(); }
    }

    public interface ISerializationCallbackReceiver
    {
        void OnBeforeSerialize();
        void OnAfterDeserialize();
    }

    public class Component : Object
    {
        public GameObject gameObject { get { throw Stub(); } }
        public Transform transform { get { throw Stub(); } }
        public T GetComponent<T>() { throw Stub(); }
        public T[] GetComponents<T>() { throw Stub(); }

        internal static Exception Stub() { return new NotSupportedException("compile-time stand-in"); }
    }

    public class Behaviour : Component
    {
        public bool enabled { get; set; }
        public bool isActiveAndEnabled { get { throw Stub(); } }
    }

    public class MonoBehaviour : Behaviour
    {
    }

    public class ScriptableObject : Object
    {
    }

    public sealed class Transform : Component
    {
        public void SetParent(Transform parent, bool worldPositionStays) { throw Stub(); }
    }

    public sealed class GameObject : Object
    {
        public GameObject(string name) { throw Component.Stub(); }
        public Transform transform { get { throw Component.Stub(); } }
        public T AddComponent<T>() where T : Component { throw Component.Stub(); }
        public T GetComponent<T>() { throw Component.Stub(); }
    }

    public sealed class AudioListener : Behaviour
    {
        public static bool pause { get; set; }
    }

    public sealed class AudioSource : Behaviour
    {
        public AudioClip clip { get; set; }
        public bool loop { get; set; }
        public bool bypassListenerEffects { get; set; }
        public void Play() { throw Stub(); }
    }

    public sealed class AudioClip : Object
    {
        public static AudioClip Create(string name, int lengthSamples, int channels, int frequency, bool stream)
        {
            throw Component.Stub();
        }
        public bool SetData(float[] data, int offsetSamples) { throw Component.Stub(); }
    }

    public enum AudioSpeakerMode
    {
        Mono = 1,
        Stereo = 2,
        Quad = 3,
        Surround = 4,
        Mode5point1 = 5,
        Mode7point1 = 6,
        Prologic = 7
    }

    public sealed class AudioSettings
    {
        public delegate void AudioConfigurationChangeHandler(bool deviceWasChanged);

        public static event AudioConfigurationChangeHandler OnAudioConfigurationChanged;
        public static int outputSampleRate { get { throw Component.Stub(); } }
        public static AudioSpeakerMode speakerMode { get { throw Component.Stub(); } }
        public static void GetDSPBufferSize(out int bufferLength, out int numBuffers) { throw Component.Stub(); }
    }

    public static class Application
    {
        public static event Action quitting;
        public static bool isPlaying { get { throw Component.Stub(); } }
        public static string dataPath { get { throw Component.Stub(); } }
    }

    public static class Debug
    {
        public static void Log(object message, Object context) { throw Component.Stub(); }
        public static void LogWarning(object message, Object context) { throw Component.Stub(); }
        public static void LogError(object message, Object context) { throw Component.Stub(); }
        public static void LogException(Exception exception, Object context) { throw Component.Stub(); }
        public static void Log(object message) { throw Component.Stub(); }
    }

    public enum RuntimeInitializeLoadType
    {
        AfterSceneLoad = 0,
        BeforeSceneLoad = 1,
        AfterAssembliesLoaded = 2,
        BeforeSplashScreen = 3,
        SubsystemRegistration = 4
    }

    [AttributeUsage(AttributeTargets.Method)]
    public sealed class RuntimeInitializeOnLoadMethodAttribute : Attribute
    {
        public RuntimeInitializeOnLoadMethodAttribute() { }
        public RuntimeInitializeOnLoadMethodAttribute(RuntimeInitializeLoadType loadType) { }
    }

    public sealed class GUILayout
    {
        public static bool Button(string text, params GUILayoutOption[] options) { throw Component.Stub(); }
    }

    public static class Mathf
    {
        public const float PI = 3.14159274f;
        public static int Clamp(int value, int min, int max) { throw Component.Stub(); }
        public static int Max(int a, int b) { throw Component.Stub(); }
        public static float Max(float a, float b) { throw Component.Stub(); }
        public static float Round(float f) { throw Component.Stub(); }
        public static float Sin(float f) { throw Component.Stub(); }
    }

    public sealed class GUIContent
    {
        public GUIContent(string text, string tooltip) { throw Component.Stub(); }
    }

    public sealed class GUIStyle
    {
    }

    public sealed class GUILayoutOption
    {
    }

    [AttributeUsage(AttributeTargets.Field)]
    public class PropertyAttribute : Attribute
    {
    }

    public sealed class TooltipAttribute : PropertyAttribute
    {
        public TooltipAttribute(string tooltip) { }
    }

    public sealed class RangeAttribute : PropertyAttribute
    {
        public RangeAttribute(float min, float max) { }
    }

    public sealed class MinAttribute : PropertyAttribute
    {
        public MinAttribute(float min) { }
    }

    [AttributeUsage(AttributeTargets.Field)]
    public sealed class SerializeField : Attribute
    {
    }

    [AttributeUsage(AttributeTargets.Class)]
    public sealed class DisallowMultipleComponent : Attribute
    {
    }

    [AttributeUsage(AttributeTargets.Class)]
    public sealed class AddComponentMenu : Attribute
    {
        public AddComponentMenu(string menuName) { }
    }
}

namespace Unity.Profiling
{
    public struct ProfilerMarker
    {
        public ProfilerMarker(string name) { throw UnityEngine.Component.Stub(); }
        public void Begin() { throw UnityEngine.Component.Stub(); }
        public void End() { throw UnityEngine.Component.Stub(); }
        public AutoScope Auto() { throw UnityEngine.Component.Stub(); }

        public struct AutoScope : IDisposable
        {
            public void Dispose() { }
        }
    }
}
