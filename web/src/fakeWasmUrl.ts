export default "";
