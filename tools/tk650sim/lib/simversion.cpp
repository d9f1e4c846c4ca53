namespace tk::sim {
const char* simulatorName()
{
    return "tk650sim";
}
} // namespace tk::sim
