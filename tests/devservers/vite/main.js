// Tests edit this line and watch the page follow over live reload.
document.getElementById('message').textContent = 'hello from vite';
